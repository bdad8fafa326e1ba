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

void EndLine() {
  if (IsErrorLine() && gErrorLineCount < CONSOLE_ERROR_LINES_MAX) {
    for (size_t i = 0; i < gLineLength; ++i) gErrorLines[gErrorLineCount][i] = gLine[i];
    gErrorLines[gErrorLineCount][gLineLength] = '\0';
    ++gErrorLineCount;
  }
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

void ForgetConsoleErrorLines() {
  gErrorLineCount = 0;
  gLineLength = 0;
}

void PrintWide(const char16_t* text) { PlatformConsoleWriteWide(text); }

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
