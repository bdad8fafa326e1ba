#include "runtime/print.h"

#include "runtime/format.h"

namespace {

ConsoleWriter gConsoleWriter = nullptr;

void WriteToConsole(void*, const char* bytes, size_t length) {
  if (gConsoleWriter != nullptr) gConsoleWriter(bytes, length);
}

}  // namespace

void SetConsoleWriter(ConsoleWriter writer) { gConsoleWriter = writer; }

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
