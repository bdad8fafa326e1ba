// Properties of the rebuild over thousands of generated images and edits
// (seeded, so every run sees the same cases): areas not edited move but do
// not change, every rebuilt area and the header sum to zero, every edited
// field reads back as set, and FreeIPMI decodes the result without an error.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "bmc/fru_access.h"
#include "bmc/fru_update.h"
#include "fru/fru_entry.h"
#include "fru/fru_format.h"
#include "fru/fru_lint.h"
#include "fru/image_rebuild.h"
#include "fru_generator.h"
#include "fru_test_support.h"
#include "platform/host/host_bmc.h"
#include "simulated_bmc.h"

namespace {

constexpr int kCases = 3000;
constexpr int kPeerEvery = 20;  // FreeIPMI decodes every twentieth result
constexpr int kWriteEvery = 3;  // every third result is written to a simulated BMC

// The bytes of area n in an image: info areas by their length byte, the
// MultiRecord Area by its records.
Bytes AreaBytes(const Bytes& image, uint8_t n) {
  size_t start = image[1 + n] * 8u;
  if (start == 0) return {};
  size_t size = 0;
  if (n == FRU_AREA_MULTIRECORD) {
    GetMultiRecordSize(image.data(), image.size(), start, &size);
  } else {
    size = image[start + 1] * 8u;
  }
  return Bytes(image.begin() + static_cast<long>(start), image.begin() + static_cast<long>(start + size));
}

class RebuildProperties : public FruTest {
 protected:
  std::unique_ptr<FruRebuildWork> work_ = std::make_unique<FruRebuildWork>();
  std::unique_ptr<FruTouched> touched_ = std::make_unique<FruTouched>();
  std::unique_ptr<FruAccess> access_ = std::make_unique<FruAccess>();
};

TEST_F(RebuildProperties, HoldOverGeneratedImagesAndEdits) {
  Generator g(20261209);
  int ready = 0;
  for (int c = 0; c < kCases; ++c) {
    SetUp();
    const size_t inventory = static_cast<size_t>(g.Between(16, 400)) * 8;
    const Bytes before = g.Image(inventory);
    bool edited[FRU_AREA_COUNT] = {};
    const int edits = g.Between(1, 3);
    for (int e = 0; e < edits; ++e) {
      edited[g.GiveAnyRowAValue(gFieldCatalogue.rows, FIELD_COUNT)] = true;
    }
    Bytes working = before;
    working.resize(FRU_IMAGE_MAX, 0);
    Bytes after(FRU_IMAGE_MAX, 0);
    FruEditResult r = EditFruImage(working.data(), inventory, gFieldCatalogue.rows, FIELD_COUNT, after.data(), *work_);
    TakeConsole();
    if (r.outcome != FruEditOutcome::ImageReady) {
      EXPECT_NE(r.outcome, FruEditOutcome::Refused) << "case " << c;  // generated images are sound
      continue;
    }
    ++ready;
    after.resize(r.newSize);
    SCOPED_TRACE("case " + std::to_string(c));
    ASSERT_TRUE(IsCommonHeaderValid(after.data()));
    // The FRU the write leaves passes the lint that every write passes.
    Bytes written = after;
    written.insert(written.end(), before.begin() + static_cast<long>(after.size()), before.end());
    FruLintReport lint;
    LintFru(written.data(), written.size(), &lint);
    EXPECT_EQ(lint.errorCount, 0);
    for (uint8_t n = FRU_AREA_CHASSIS; n <= FRU_AREA_MULTIRECORD; ++n) {
      if (!edited[n]) {
        EXPECT_EQ(AreaBytes(after, n), AreaBytes(before, n)) << "area " << int(n) << " moved but changed";
      } else if (n != FRU_AREA_MULTIRECORD && after[1 + n] != 0) {
        Bytes area = AreaBytes(after, n);
        EXPECT_EQ(ZeroChecksum(area, area.size()), 0) << "area " << int(n);
      }
    }
    for (const FieldEntry& row : gFieldCatalogue.rows) {
      if (row.Size == FIELD_SIZE_NOT_GIVEN) continue;
      size_t start = after[1 + row.Area] * 8u;
      if (start == 0) {
        EXPECT_EQ(row.Size, 0) << row.Keyword << ": only an erasure leaves its area out";
        continue;
      }
      int32_t size = -1;
      uint8_t type = 0;
      const uint8_t* data = GetFruEntry(row.Area, row.Entry, after.data() + start, after[start + 1] * 8u - 1, &size, &type);
      if (row.Size == 0) {
        EXPECT_TRUE(data == nullptr || size == 0) << row.Keyword;
      } else {
        ASSERT_NE(data, nullptr) << row.Keyword;
        EXPECT_EQ(Bytes(data, data + size), Bytes(row.Data, row.Data + row.Size)) << row.Keyword;
      }
    }
    if (c % kWriteEvery == 0) {
      // Written to a BMC that holds the image as read, whatever chunks are
      // sent, the FRU ends up as the new image followed by what lay beyond it.
      sim::SimulatedBmc bmc(sim::Latency{0, 0, 0}, sim::Faults{}, sim::Identity{32473});
      bmc.UseImage(before);
      HostUseSimulatedBmc(&bmc);
      OpenFruAccess(access_.get());
      Bytes readBack(inventory);
      EXPECT_EQ(UpdateFruData(access_->device, 0, after.data(), after.size(), before.data(), readBack.data(), touched_.get()),
                FruWriteOutcome::Written);
      HostUseSimulatedBmc(nullptr);
      Bytes expected = after;
      expected.insert(expected.end(), before.begin() + static_cast<long>(after.size()), before.end());
      EXPECT_EQ(bmc.Fru(), expected);
      EXPECT_EQ(bmc.Violations().count, 0u) << bmc.Violations().first;
      TakeConsole();
    }
    if (c % kPeerEvery == 0) {
      const std::string decoded = DecodeWithIpmiFru(after);
      EXPECT_NE(decoded.find("FRU Inventory From File"), std::string::npos) << decoded;
      EXPECT_EQ(decoded.find("FRU Error"), std::string::npos) << decoded;
    }
  }
  EXPECT_GT(ready, kCases / 2);
  printf("rebuild properties: %d cases, %d rebuilt images checked\n", kCases, ready);
}

TEST_F(RebuildProperties, AnInvalidHeaderIsRebuiltOnlyOnABlankFru) {
  // One flipped bit in the header of an image that holds data: the edit is
  // refused, for the rebuild would discard every area. A blank FRU (erased
  // 0xFF, zeroed 0x00, or a mix) gets a new header and the edited area.
  Generator g(1209);
  for (int c = 0; c < 500; ++c) {
    SetUp();
    const size_t inventory = static_cast<size_t>(g.Between(16, 64)) * 8;
    const bool blank = g.Chance(50);
    Bytes before = g.Image(inventory);
    if (blank) {
      for (uint8_t& b : before) b = g.Chance(50) ? 0xFF : 0x00;
    } else {
      before[static_cast<size_t>(g.Between(0, 7))] ^= static_cast<uint8_t>(1 << g.Between(0, 7));
    }
    SetText(RowByKeyword(gFieldCatalogue, "BSN"), g.Word() + "SN");
    Bytes working = before;
    working.resize(FRU_IMAGE_MAX, 0);
    Bytes after(FRU_IMAGE_MAX, 0xEE);
    FruEditResult r = EditFruImage(working.data(), inventory, gFieldCatalogue.rows, FIELD_COUNT, after.data(), *work_);
    const std::string console = TakeConsole();
    // A header-only image can turn blank when its bit flips: what counts is the bytes.
    const bool holdsData = std::any_of(before.begin(), before.end(), [](uint8_t b) { return b != 0x00 && b != 0xFF; });
    SCOPED_TRACE("case " + std::to_string(c) + (holdsData ? " (holds data)" : " (blank)"));
    if (holdsData) {
      EXPECT_EQ(r.outcome, FruEditOutcome::Refused);
      EXPECT_EQ(console.rfind("[ERROR] Common header invalid on a FRU that holds data; nothing was written", 0), 0u);
      EXPECT_EQ(Bytes(working.begin(), working.begin() + static_cast<long>(inventory)), before);
      continue;
    }
    ASSERT_EQ(r.outcome, FruEditOutcome::ImageReady);
    EXPECT_EQ(console.rfind("Common header invalid, rebuild...\n", 0), 0u);
    after.resize(r.newSize);
    EXPECT_TRUE(IsCommonHeaderValid(after.data()));
    for (uint8_t n = 0; n < FRU_AREA_COUNT; ++n) EXPECT_EQ(after[1 + n] != 0, n == FRU_AREA_BOARD) << int(n);
  }
}

}  // namespace
