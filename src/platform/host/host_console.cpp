// Console of the host build: standard output and standard input.
#include <cstdio>
#include <string>

#include "platform/host/host_console.h"
#include "platform/platform.h"
#include "platform/print.h"

namespace {

std::string* gCapture = nullptr;
FILE* gOut = stdout;
const std::string* gInput = nullptr;
size_t gInputPosition = 0;

void WriteOut(const char* bytes, size_t length) {
  if (gCapture != nullptr) {
    gCapture->append(bytes, length);
  } else {
    fwrite(bytes, 1, length, gOut);
  }
}

int NextInputByte() {
  if (gInput == nullptr) return getchar();
  if (gInputPosition >= gInput->size()) return EOF;
  return static_cast<unsigned char>((*gInput)[gInputPosition++]);
}

bool IsWordEnd(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// UCS-2 to UTF-8, so that a terminal shows what the firmware console would.
void AppendUtf8(std::string& out, char16_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

void HostConsoleCapture(std::string* sink) { gCapture = sink; }

void HostConsoleToStandardError() { gOut = stderr; }

void HostFailureLine(const std::string& line) {
  // After the console text before it, where both streams go to one place (2>&1).
  fflush(gOut);
  fprintf(stderr, "%s\n", line.c_str());
  NoteFailureLine(line.c_str());
}

void HostConsoleSetInput(const std::string* input) {
  gInput = input;
  gInputPosition = 0;
}

void PlatformConsoleWrite(const char* bytes, size_t length) { WriteOut(bytes, length); }

void PlatformConsoleWriteWide(const char16_t* text) {
  std::string narrow;
  for (; *text != 0; ++text) AppendUtf8(narrow, *text);
  WriteOut(narrow.data(), narrow.size());
}

PlatformStatus PlatformReadWord(char* buffer, size_t capacity) {
  if (capacity == 0) return PLATFORM_BUFFER_TOO_SMALL;
  if (gCapture == nullptr) fflush(gOut);  // the prompt must show before the read waits
  int c = NextInputByte();
  while (c != EOF && IsWordEnd(c)) c = NextInputByte();
  if (c == EOF) {
    buffer[0] = '\0';
    return PLATFORM_END_OF_FILE;
  }
  size_t length = 0;
  while (c != EOF && !IsWordEnd(c)) {
    if (length < capacity - 1) buffer[length++] = static_cast<char>(c);
    c = NextInputByte();
  }
  buffer[length] = '\0';
  return PLATFORM_SUCCESS;
}
