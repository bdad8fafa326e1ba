#include "platform/print.h"

#include "platform/platform.h"
#include "runtime/format.h"

namespace {

void WriteToConsole(void*, const char* bytes, size_t length) { PlatformConsoleWrite(bytes, length); }

}  // namespace

void PrintV(const char* format, va_list args) {
  FormatSink sink{WriteToConsole, nullptr};
  FormatToSink(sink, format, args);
}

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintV(format, args);
  va_end(args);
}

void PrintWide(const char16_t* text) { PlatformConsoleWriteWide(text); }
