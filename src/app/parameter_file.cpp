#include "app/parameter_file.h"

#include <stddef.h>
#include <stdint.h>

#include "app/command_line.h"
#include "platform/platform.h"
#include "platform/print.h"
#include "runtime/arena.h"
#include "runtime/text.h"

namespace {

constexpr size_t PARAMETER_FILE_MAX = 1024;
constexpr uint8_t UCS2_BOM_FIRST = 0xFF;
constexpr uint8_t UCS2_BOM_SECOND = 0xFE;

// Path bytes above 0x7F become 0xFF00 plus the byte.
char16_t* WidenPath(const char* name) {
  size_t length = TextLength(name);
  auto* path = static_cast<char16_t*>(ArenaAlloc((length + 1) * sizeof(char16_t)));
  if (path == nullptr) return nullptr;
  for (size_t i = 0; i < length; ++i) {
    uint8_t b = static_cast<uint8_t>(name[i]);
    path[i] = b <= 0x7F ? b : static_cast<char16_t>(0xFF00 + b);
  }
  path[length] = 0;
  return path;
}

// UCS-2 text (little-endian, after its byte-order mark) to 8-bit text; false
// when a character has no 8-bit form.
bool NarrowUcs2(char* text, size_t* length) {
  size_t units = (*length - 2) / 2;
  if ((*length - 2) % 2 != 0) return false;
  for (size_t i = 0; i < units; ++i) {
    uint8_t low = static_cast<uint8_t>(text[2 + 2 * i]);
    uint8_t high = static_cast<uint8_t>(text[3 + 2 * i]);
    if (high != 0) return false;
    text[i] = static_cast<char>(low);
  }
  *length = units;
  text[units] = '\0';
  return true;
}

// A line whose first character that is not a blank is "#".
bool IsComment(const char* line, size_t length) {
  size_t i = 0;
  while (i < length && (line[i] == ' ' || line[i] == '\t')) ++i;
  return i < length && line[i] == '#';
}

// Splits at line feeds; runs of them count as one, a carriage return right
// before one is dropped. A zero byte ends the text.
bool AppendLines(char* text, TokenList& tokens) {
  char* p = text;
  while (*p != '\0') {
    while (*p == '\n') ++p;
    if (*p == '\0') break;
    char* start = p;
    while (*p != '\0' && *p != '\n') ++p;
    size_t length = static_cast<size_t>(p - start);
    if (*p == '\n' && length > 0 && start[length - 1] == '\r') --length;
    if (length == 0 || IsComment(start, length)) continue;
    char* line = DuplicateText(start, length);
    if (line == nullptr || !TokenListAppend(tokens, line)) return false;
  }
  return true;
}

ParameterFileResult Fail(const char* format, const char* name) {
  Print(format, name);
  return ParameterFileResult::Failed;
}

}  // namespace

ParameterFileResult ReadParameterFile(TokenList& tokens) {
  const char* name = OptionValue("file=", CommandLineTokens(tokens));
  if (name == nullptr) return ParameterFileResult::Done;
  if (PlatformIsError(PlatformLocateFileSystem())) {
    PrintWideFailure(u"Cannot find EFI_SIMPLE_FILE_SYSTEM_PROTOCOL \r\n");
    return ParameterFileResult::Failed;
  }
  char16_t* path = WidenPath(name);
  if (path == nullptr) return Fail("[ERROR] Out of memory\n", name);
  if (PlatformIsError(PlatformOpenVolume())) {
    PrintWideFailure(u"OpenVolume error \r\n");
    return ParameterFileResult::Failed;
  }
  // No name names no file: opened as it stands it would be the root folder.
  if (*name == '\0') {
    PrintWideFailure(u"Open error \r\n");
    return ParameterFileResult::Failed;
  }
  // Read access only: a file on a write-protected volume can be read, and a
  // mistyped name is an error rather than a new empty file.
  PlatformFile* file = nullptr;
  PlatformStatus opened = PlatformOpenFile(path, &file);
  if (opened == PLATFORM_NOT_FOUND) return Fail("[ERROR] Parameter file %s not found\n", name);
  if (PlatformIsError(opened)) {
    PrintWideFailure(u"Open error \r\n");
    return ParameterFileResult::Failed;
  }
  if (file == nullptr) {
    PrintWideFailure(u"Open error \r\n");
    return ParameterFileResult::Done;
  }
  // One byte more than a file may hold tells a file that is too long.
  char buffer[PARAMETER_FILE_MAX + 2];
  size_t length = PARAMETER_FILE_MAX + 1;
  PlatformStatus status = PlatformReadFile(file, buffer, &length);
  PlatformCloseFile(file);
  if (PlatformIsError(status)) return ParameterFileResult::Done;
  if (length > PARAMETER_FILE_MAX) {
    return Fail("[ERROR] Parameter file %s is longer than 1024 bytes; no value of it is used\n", name);
  }
  buffer[length] = '\0';
  if (length >= 2 && static_cast<uint8_t>(buffer[0]) == UCS2_BOM_FIRST &&
      static_cast<uint8_t>(buffer[1]) == UCS2_BOM_SECOND && !NarrowUcs2(buffer, &length)) {
    return Fail("[ERROR] Parameter file %s holds UCS-2 text that is not 8-bit text\n", name);
  }
  if (!AppendLines(buffer, tokens)) return Fail("[ERROR] Parameter file %s has more lines than the tool can hold\n", name);
  return ParameterFileResult::Done;
}
