// The runtime's text helpers.
#include <gtest/gtest.h>

#include "runtime/arena.h"
#include "runtime/text.h"

namespace {

TEST(TextHelpers, SplitAtTheFirstOccurrence) {
  ArenaReset();
  EXPECT_STREQ(TextAfter("=a=b", '='), "a=b");
  EXPECT_STREQ(TextAfter("abc=", '='), "");
  EXPECT_EQ(TextAfter("abc", '='), nullptr);
  EXPECT_STREQ(TextBefore("0x00,0x1,0x2", ','), "0x00");
  EXPECT_STREQ(TextBefore(",abc", ','), "");
  EXPECT_EQ(TextBefore("abc", ','), nullptr);
}

}  // namespace
