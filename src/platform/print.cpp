#include "platform/print.h"

#include "platform/platform.h"
#include "runtime/format.h"

void AttachConsole() { SetConsoleWriter(PlatformConsoleWrite); }

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
