// The printf subset against the host's snprintf, over a grid of formats.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "runtime/format.h"

namespace {

template <typename... Args>
void ExpectSameAsHost(const char* format, Args... args) {
  char ours[256];
  char host[256];
  size_t ourLength = FormatString(ours, sizeof(ours), format, args...);
  int hostLength = snprintf(host, sizeof(host), format, args...);
  EXPECT_STREQ(ours, host) << "format \"" << format << "\"";
  EXPECT_EQ(ourLength, static_cast<size_t>(hostLength)) << "format \"" << format << "\"";
}

TEST(Format, IntegersMatchTheHostOverAGridOfFlagsAndWidths) {
  const char* formats[] = {"%d", "%5d", "%-5d|", "%05d", "%1d", "%u", "%x", "%X", "%02x", "%02X", "%8x", "%-8X|"};
  const int values[] = {0, 7, -7, 255, 4096, -2147483647 - 1, 2147483647};
  for (const char* format : formats) {
    for (int value : values) ExpectSameAsHost(format, value);
  }
}

TEST(Format, LengthModifiersMatchTheHost) {
  ExpectSameAsHost("%ld", -1234567890123L);
  ExpectSameAsHost("%lld", static_cast<long long>(-9223372036854775807LL - 1));
  ExpectSameAsHost("%llu", 18446744073709551615ULL);
  ExpectSameAsHost("%llx", 0xDEADBEEFCAFEULL);
  ExpectSameAsHost("%016llX", 0xABCULL);
}

TEST(Format, TextPointersAndCharactersMatchTheHost) {
  ExpectSameAsHost(" %25s: ", "Board Serial Number");
  ExpectSameAsHost("%-6s|", "ab");
  ExpectSameAsHost("%s", "");
  ExpectSameAsHost("%c%c", 'A', 'z');
  ExpectSameAsHost("%3c|", 'q');
  ExpectSameAsHost("100%%");
  int object = 0;
  ExpectSameAsHost("Data=%p", static_cast<void*>(&object));
  ExpectSameAsHost("Data=%p", static_cast<void*>(nullptr));
}

TEST(Format, ABufferThatIsTooSmallIsCutAndTerminated) {
  char buffer[8];
  size_t length = FormatString(buffer, sizeof(buffer), "%s (%s)", "0123456789", "name");
  EXPECT_EQ(length, 17u);
  EXPECT_STREQ(buffer, "0123456");
}

TEST(Format, LongOutputReachesTheSinkWhole) {
  std::string collected;
  FormatSink sink{[](void* context, const char* bytes, size_t length) {
                    static_cast<std::string*>(context)->append(bytes, length);
                  },
                  &collected};
  std::string big(1000, 'x');
  va_list none{};
  (void)none;
  auto format = [&](const char* f, ...) {
    va_list args;
    va_start(args, f);
    size_t total = FormatToSink(sink, f, args);
    va_end(args);
    return total;
  };
  EXPECT_EQ(format("<%s>%d", big.c_str(), 42), 1004u);
  EXPECT_EQ(collected, "<" + big + ">42");
}

}  // namespace
