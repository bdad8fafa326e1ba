// The firmware console on the host: narrow text reaches ConOut as UCS-2 with
// LF written as CR LF, and words come from ConIn keys with echo and backspace.
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "platform/platform.h"
#include "platform/uefi/uefi_globals.h"

EFI_HANDLE gImageHandle = nullptr;
EFI_SYSTEM_TABLE* gST = nullptr;
EFI_BOOT_SERVICES* gBS = nullptr;

namespace {

std::u16string gScreen;
std::deque<EFI_INPUT_KEY> gKeys;

EFI_STATUS OutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL*, const CHAR16* text) {
  gScreen += text;
  return EFI_SUCCESS;
}

EFI_STATUS ReadKeyStroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL*, EFI_INPUT_KEY* key) {
  if (gKeys.empty()) return EFI_NOT_FOUND;
  *key = gKeys.front();
  gKeys.pop_front();
  return EFI_SUCCESS;
}

EFI_STATUS WaitForEvent(UINTN, EFI_EVENT*, UINTN* index) {
  *index = 0;
  return EFI_SUCCESS;
}

class UefiConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    out_.OutputString = OutputString;
    in_.ReadKeyStroke = ReadKeyStroke;
    boot_.WaitForEvent = WaitForEvent;
    system_.ConOut = &out_;
    system_.ConIn = &in_;
    system_.BootServices = &boot_;
    gST = &system_;
    gBS = &boot_;
    gScreen.clear();
    gKeys.clear();
  }
  static void Type(const std::u16string& keys) {
    for (char16_t c : keys) gKeys.push_back(EFI_INPUT_KEY{0, c});
  }

  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL out_{};
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL in_{};
  EFI_BOOT_SERVICES boot_{};
  EFI_SYSTEM_TABLE system_{};
};

TEST_F(UefiConsole, LineFeedsBecomeCarriageReturnLineFeed) {
  const std::string text = "Tagforge v1.00 beta\n\xE9\n";
  PlatformConsoleWrite(text.data(), text.size());
  EXPECT_EQ(gScreen, u"Tagforge v1.00 beta\r\n\u00E9\r\n");

  gScreen.clear();
  std::string long_text(300, 'a');
  long_text += "\n";
  PlatformConsoleWrite(long_text.data(), long_text.size());
  EXPECT_EQ(gScreen, std::u16string(300, u'a') + u"\r\n");
}

TEST_F(UefiConsole, AWordIsTypedWithEchoAndBackspace) {
  Type(u"  \r\nAB\bC\u0101D \rNEXT\r");
  char word[8];
  EXPECT_EQ(PlatformReadWord(word, sizeof(word)), PLATFORM_SUCCESS);
  EXPECT_STREQ(word, "AC?D");
  EXPECT_EQ(gScreen, u"AB\b \bC\u0101D");
  EXPECT_EQ(PlatformReadWord(word, sizeof(word)), PLATFORM_SUCCESS);
  EXPECT_STREQ(word, "NEXT");
}

TEST_F(UefiConsole, AWordLongerThanTheBufferIsCut) {
  Type(u"0123456789\r");
  char word[5];
  EXPECT_EQ(PlatformReadWord(word, sizeof(word)), PLATFORM_SUCCESS);
  EXPECT_STREQ(word, "0123");
  EXPECT_EQ(gScreen, u"0123");  // what is dropped is not echoed
}

}  // namespace
