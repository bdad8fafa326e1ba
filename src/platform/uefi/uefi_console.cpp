// The firmware console: narrow text widened to UCS-2 with LF written as CR LF,
// and words typed (or scanned) on ConIn, echoed as they come.
#include "platform/platform.h"
#include "platform/uefi/uefi_globals.h"

namespace {

constexpr size_t CONSOLE_CHUNK = 128;
constexpr CHAR16 KEY_BACKSPACE = 0x08;
constexpr CHAR16 KEY_TAB = 0x09;
constexpr CHAR16 KEY_LINE_FEED = 0x0A;
constexpr CHAR16 KEY_CARRIAGE_RETURN = 0x0D;

bool EndsWord(CHAR16 c) { return c == u' ' || c == KEY_TAB || c == KEY_LINE_FEED || c == KEY_CARRIAGE_RETURN; }

void Echo(const CHAR16* text) { gST->ConOut->OutputString(gST->ConOut, text); }

CHAR16 NextCharacter() {
  for (;;) {
    UINTN index = 0;
    gBS->WaitForEvent(1, &gST->ConIn->WaitForKey, &index);
    EFI_INPUT_KEY key{};
    if (gST->ConIn->ReadKeyStroke(gST->ConIn, &key) == EFI_SUCCESS && key.UnicodeChar != 0) return key.UnicodeChar;
  }
}

}  // namespace

void PlatformConsoleWrite(const char* bytes, size_t length) {
  CHAR16 chunk[CONSOLE_CHUNK + 1];
  size_t used = 0;
  for (size_t i = 0; i < length; ++i) {
    if (used + 2 > CONSOLE_CHUNK) {
      chunk[used] = 0;
      Echo(chunk);
      used = 0;
    }
    if (bytes[i] == '\n') chunk[used++] = u'\r';
    chunk[used++] = static_cast<unsigned char>(bytes[i]);
  }
  chunk[used] = 0;
  if (used > 0) Echo(chunk);
}

void PlatformConsoleWriteWide(const char16_t* text) { Echo(text); }

PlatformStatus PlatformReadWord(char* buffer, size_t capacity) {
  if (capacity == 0) return PLATFORM_BUFFER_TOO_SMALL;
  size_t length = 0;
  for (;;) {
    CHAR16 c = NextCharacter();
    if (EndsWord(c)) {
      if (length == 0) continue;  // blanks and line ends before the word
      break;
    }
    if (c == KEY_BACKSPACE) {
      if (length > 0) {
        --length;
        Echo(u"\b \b");
      }
      continue;
    }
    if (length + 1 < capacity) {
      buffer[length++] = c <= 0xFF ? static_cast<char>(c) : '?';
      CHAR16 echo[2] = {c, 0};
      Echo(echo);
    }
  }
  buffer[length] = '\0';
  return PLATFORM_SUCCESS;
}
