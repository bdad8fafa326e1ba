#include "platform/print.h"

#include "platform/platform.h"
#include "runtime/format.h"

namespace {

constexpr char ERROR_PREFIX[] = "[ERROR] ";
constexpr size_t ERROR_PREFIX_LENGTH = sizeof(ERROR_PREFIX) - 1;

char gLine[CONSOLE_ERROR_LINE_MAX];  // the line being printed, cut
size_t gLineLength = 0;
char gErrorLines[CONSOLE_ERROR_LINES_MAX][CONSOLE_ERROR_LINE_MAX];
int gErrorLineCount = 0;

bool IsErrorLine() {
  if (gLineLength < ERROR_PREFIX_LENGTH) return false;
  for (size_t i = 0; i < ERROR_PREFIX_LENGTH; ++i) {
    if (gLine[i] != ERROR_PREFIX[i]) return false;
  }
  return true;
}

void KeepLine(const char* line, size_t length) {
  if (gErrorLineCount >= CONSOLE_ERROR_LINES_MAX) return;
  if (length > CONSOLE_ERROR_LINE_MAX - 1) length = CONSOLE_ERROR_LINE_MAX - 1;
  for (size_t i = 0; i < length; ++i) gErrorLines[gErrorLineCount][i] = line[i];
  gErrorLines[gErrorLineCount][length] = '\0';
  ++gErrorLineCount;
}

void EndLine() {
  if (IsErrorLine()) KeepLine(gLine, gLineLength);
  gLineLength = 0;
}

void WriteAndNote(const char* bytes, size_t length) {
  PlatformConsoleWrite(bytes, length);
  for (size_t i = 0; i < length; ++i) {
    if (bytes[i] == '\n') {
      EndLine();
    } else if (gLineLength < CONSOLE_ERROR_LINE_MAX - 1) {
      gLine[gLineLength++] = bytes[i];
    }
  }
}

}  // namespace

void AttachConsole() { SetConsoleWriter(WriteAndNote); }

int ConsoleErrorLineCount() { return gErrorLineCount; }

const char* ConsoleErrorLine(int index) { return index < gErrorLineCount ? gErrorLines[index] : ""; }

void NoteFailureLine(const char* line) {
  size_t length = 0;
  while (line[length] != '\0') ++length;
  KeepLine(line, length);
}

void ForgetConsoleErrorLines() {
  gErrorLineCount = 0;
  gLineLength = 0;
}

void PrintWide(const char16_t* text) { PlatformConsoleWriteWide(text); }

void PrintWideFailure(const char16_t* text) {
  PlatformConsoleWriteWide(text);
  // The messages are ASCII; their line end and the blank before it are not part of the cause.
  char narrow[CONSOLE_ERROR_LINE_MAX];
  size_t length = 0;
  for (; text[length] != 0 && length < sizeof(narrow) - 1; ++length) narrow[length] = static_cast<char>(text[length]);
  while (length > 0 && (narrow[length - 1] == '\n' || narrow[length - 1] == '\r' || narrow[length - 1] == ' ')) --length;
  narrow[length] = '\0';
  NoteFailureLine(narrow);
}

void PrintWideV(const char* format, va_list args) {
  constexpr size_t WIDE_LINE_MAX = 256;
  char narrow[WIDE_LINE_MAX];
  char16_t wide[WIDE_LINE_MAX];
  FormatStringV(narrow, sizeof(narrow), format, args);
  size_t i = 0;
  for (; narrow[i] != '\0'; ++i) wide[i] = static_cast<unsigned char>(narrow[i]);
  wide[i] = 0;
  PlatformConsoleWriteWide(wide);
}
