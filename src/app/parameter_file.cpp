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
// Editors on the line's PCs save "UTF-8 with BOM": the three bytes would join
// the first line's token, so that a comment line became a field.
constexpr uint8_t UTF8_BOM[] = {0xEF, 0xBB, 0xBF};

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

// What reading the named file from one volume came to.
enum class Found { File, NotFound, Failed, Unreadable };

// The file's bytes into buffer (room for PARAMETER_FILE_MAX + 2), *length their
// count; one byte more than a file may hold tells a file that is too long.
// A failed open prints its message; an unreadable file is taken as no lines.
Found ReadFrom(PlatformStatus (*open)(const char16_t*, PlatformFile**), const char16_t* path, char* buffer,
               size_t* length) {
  // Read access only: a file on a write-protected volume can be read, and a
  // mistyped name is an error rather than a new empty file.
  PlatformFile* file = nullptr;
  PlatformStatus opened = open(path, &file);
  if (opened == PLATFORM_NOT_FOUND) return Found::NotFound;
  if (PlatformIsError(opened) || file == nullptr) {
    PrintWideFailure(u"Open error \r\n");
    return PlatformIsError(opened) ? Found::Failed : Found::Unreadable;
  }
  *length = PARAMETER_FILE_MAX + 1;
  PlatformStatus status = PlatformReadFile(file, buffer, length);
  PlatformCloseFile(file);
  return PlatformIsError(status) ? Found::Unreadable : Found::File;
}

ParameterFileResult TakeLines(char* buffer, size_t length, const char* name, TokenList& tokens) {
  if (length > PARAMETER_FILE_MAX) {
    return Fail("[ERROR] Parameter file %s is longer than 1024 bytes; no value of it is used\n", name);
  }
  buffer[length] = '\0';
  if (length >= 2 && static_cast<uint8_t>(buffer[0]) == UCS2_BOM_FIRST &&
      static_cast<uint8_t>(buffer[1]) == UCS2_BOM_SECOND && !NarrowUcs2(buffer, &length)) {
    return Fail("[ERROR] Parameter file %s holds UCS-2 text that is not 8-bit text\n", name);
  }
  if (length >= sizeof(UTF8_BOM) && CompareBytes(buffer, UTF8_BOM, sizeof(UTF8_BOM)) == 0) {
    buffer += sizeof(UTF8_BOM);
    length -= sizeof(UTF8_BOM);
  }
  if (!AppendLines(buffer, tokens)) return Fail("[ERROR] Parameter file %s has more lines than the tool can hold\n", name);
  return ParameterFileResult::Done;
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
  char first[PARAMETER_FILE_MAX + 2];
  size_t firstLength = 0;
  const Found onFirst = ReadFrom(PlatformOpenFile, path, first, &firstLength);
  if (onFirst == Found::Failed) return ParameterFileResult::Failed;
  if (onFirst == Found::Unreadable) return ParameterFileResult::Done;
  // A tool started from a stick on a board whose own disk is the first volume
  // finds the batch file beside it; a copy on both that differs is a stale
  // batch on one of them, which must not win without a word.
  if (!PlatformIsError(PlatformOpenToolVolume())) {
    char beside[PARAMETER_FILE_MAX + 2];
    size_t besideLength = 0;
    const Found onTool = ReadFrom(PlatformOpenToolFile, path, beside, &besideLength);
    if (onTool == Found::Failed) return ParameterFileResult::Failed;
    if (onFirst == Found::NotFound && onTool == Found::NotFound) {
      return Fail("[ERROR] Parameter file %s not found on the first volume or on the tool's volume\n", name);
    }
    if (onFirst == Found::NotFound) {
      if (onTool == Found::Unreadable) return ParameterFileResult::Done;
      Print("Parameter file %s read from the tool's volume\n", name);
      return TakeLines(beside, besideLength, name, tokens);
    }
    if (onTool == Found::File && (besideLength != firstLength || CompareBytes(first, beside, firstLength) != 0)) {
      return Fail("[ERROR] Parameter file %s differs between the first volume and the tool's volume\n", name);
    }
  } else if (onFirst == Found::NotFound) {
    return Fail("[ERROR] Parameter file %s not found\n", name);
  }
  return TakeLines(first, firstLength, name, tokens);
}
