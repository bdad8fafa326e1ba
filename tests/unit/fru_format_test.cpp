// The Common Header check and rebuild, checksums and area sizing.
#include <gtest/gtest.h>

#include "fru/fru_format.h"
#include "fru_test_support.h"

namespace {

TEST(FruFormat, ChecksumMakesTheRangeSumToZero) {
  const Bytes bytes{0x01, 0x00, 0x01, 0x03, 0x00, 0x00, 0x00};
  EXPECT_EQ(FruChecksum(bytes.data(), 7), 0xFB);
  EXPECT_EQ(FruChecksum(bytes.data(), 0), 0x00);
}

TEST(FruFormat, TheEmptyAreasAreExactAndSumToZero) {
  const Bytes expected[] = {
      {0x01, 0x01, 0x01, 0xC0, 0xC0, 0xC1, 0x00, 0xBC},
      {0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xC0, 0xC0, 0xC0, 0x00, 0xC1, 0x00, 0x00, 0x00, 0x3C},
      {0x01, 0x02, 0x00, 0xC0, 0xC0, 0xC0, 0xC0, 0xC0, 0xC0, 0x00, 0xC1, 0x00, 0x00, 0x00, 0x00, 0xBC},
  };
  for (uint8_t area = FRU_AREA_CHASSIS; area <= FRU_AREA_PRODUCT; ++area) {
    FruEmptyArea empty = GetFruEmptyArea(area);
    EXPECT_EQ(Bytes(empty.bytes, empty.bytes + empty.size), expected[area - 1]) << "area " << int(area);
    EXPECT_EQ(FruChecksum(empty.bytes, static_cast<uint16_t>(empty.size)), 0);
  }
}

TEST(FruFormat, LayoutInfoReadsTheTable) {
  struct Case {
    uint8_t area;
    int fixed;
    int first;
    int always;
  };
  for (const Case c : {Case{1, 1, 3, 3}, Case{2, 2, 6, 6}, Case{3, 1, 3, 7}}) {
    FruLayoutInfo info = GetFruLayoutInfo(c.area);
    EXPECT_EQ(info.fixedCount, c.fixed);
    EXPECT_EQ(info.firstFieldOffset, c.first);
    EXPECT_EQ(info.alwaysWritten, c.always);
  }
}

TEST(FruFormat, HeaderCheckAndRebuild) {
  struct Case {
    Bytes header;
    bool valid;
  };
  const Case cases[] = {
      {{0x01, 0x00, 0x01, 0x03, 0x00, 0x00, 0x00, 0xFB}, true},
      {{0x01, 0x00, 0x01, 0x03, 0x00, 0x00, 0x00, 0xFA}, false},  // checksum off by one
      {{0x02, 0x00, 0x01, 0x03, 0x00, 0x00, 0x00, 0xFA}, false},  // version 2, checksum right
      {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, false},
  };
  for (const Case& c : cases) {
    Bytes image = c.header;
    image.resize(64, 0xAB);
    EXPECT_EQ(IsCommonHeaderValid(image.data()), c.valid);
    RebuildCommonHeader(image.data(), image.size());
    Bytes expected(64, 0x00);
    expected[0] = 0x01;
    expected[7] = 0xFF;
    EXPECT_EQ(image, expected);
  }
}

TEST(FruFormat, InternalUseSize) {
  struct Case {
    uint8_t internalUse;
    uint8_t chassis;
    bool error;
    size_t size;
  };
  for (const Case c : {Case{1, 4, false, 24}, Case{1, 0, true, 0}, Case{0, 4, true, 0}, Case{4, 4, true, 0},
                       Case{5, 4, true, 0}}) {
    Bytes image(8, 0);
    image[1] = c.internalUse;
    image[2] = c.chassis;
    size_t size = 99;
    EXPECT_EQ(GetInternalUseSize(image.data(), &size), c.error);
    if (!c.error) {
      EXPECT_EQ(size, c.size);
    }
  }
}

TEST(FruFormat, MultiRecordSize) {
  auto record = [](uint8_t type, uint8_t format, size_t length) {
    Bytes r{type, format, static_cast<uint8_t>(length), 0, 0};
    r.resize(5 + length, 0x5A);
    return r;
  };
  auto chain = [](std::initializer_list<Bytes> records) {
    Bytes image(16, 0);  // the area starts at 16
    for (const Bytes& r : records) image.insert(image.end(), r.begin(), r.end());
    return image;
  };
  struct Case {
    const char* name;
    Bytes image;
    bool error;
    size_t size;
  };
  const Case cases[] = {
      {"two records", chain({record(0x01, 0x02, 16), record(0xC0, 0x82, 4)}), false, 30},
      {"type 0x20", chain({record(0x20, 0x82, 4)}), true, 0},
      {"reserved bit", chain({record(0x01, 0x92, 4)}), true, 0},
      {"version 1", chain({record(0x01, 0x81, 4)}), true, 0},
      {"no end of list", chain({record(0x01, 0x02, 4)}), true, 0},
      {"past the end", [&] { Bytes b = chain({record(0x01, 0x82, 40)}); b.resize(30); return b; }(), true, 0},
      {"header cut", Bytes(19, 0), true, 0},
  };
  for (const Case& c : cases) {
    size_t size = 99;
    EXPECT_EQ(GetMultiRecordSize(c.image.data(), c.image.size(), 16, &size), c.error) << c.name;
    if (!c.error) {
      EXPECT_EQ(size, c.size) << c.name;
    }
  }
}

TEST(FruFormat, LocateInfoAreaMarksDamagedAreas) {
  Bytes image = Image(64, {0, 1, 3, 6, 0}, {{1, InfoArea({{0x01}, Text(""), Text("")})}});
  image[3 * 8 + 1] = 0;     // board length byte 0
  image[6 * 8 + 1] = 0x10;  // product reaches past the image
  FruInfoArea area{};
  ASSERT_TRUE(LocateInfoArea(image.data(), image.size(), 1, &area));
  EXPECT_FALSE(area.damaged);
  EXPECT_EQ(area.readable, 8u);
  ASSERT_TRUE(LocateInfoArea(image.data(), image.size(), 2, &area));
  EXPECT_TRUE(area.damaged);
  EXPECT_EQ(area.readable, 40u);
  ASSERT_TRUE(LocateInfoArea(image.data(), image.size(), 3, &area));
  EXPECT_TRUE(area.damaged);
  EXPECT_EQ(area.readable, 16u);
  EXPECT_FALSE(LocateInfoArea(image.data(), image.size(), 0, &area));
}

}  // namespace
