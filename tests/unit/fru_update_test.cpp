// Writes that are read back, written again on a mismatch, and undone when they break off.
#include "bmc/fru_update.h"
#include "bmc_test_support.h"
#include "fru/fru_format.h"

namespace {

class FruUpdate : public BmcTest {
 protected:
  static std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + seed);
    return bytes;
  }
  const std::vector<uint8_t> before_ = Pattern(256, 1);
  const std::vector<uint8_t> after_ = Pattern(256, 2);
  std::vector<uint8_t> readBack_ = std::vector<uint8_t>(256);
  std::vector<uint8_t> zeros_ = std::vector<uint8_t>(256);
  FruTouched touched_{};
};

TEST_F(FruUpdate, AWriteIsReadBackAndCompared) {
  sim::SimulatedBmc& bmc = Bmc("", "", before_);
  EXPECT_EQ(UpdateFruData(Device(), 0, after_.data(), 256, before_.data(), readBack_.data(), &touched_), FruWriteOutcome::Written);
  EXPECT_EQ(bmc.Fru(), after_);
  EXPECT_EQ(bmc.Requests(), 8u + 8u);
  EXPECT_EQ(TakeConsole(), "");
}

TEST_F(FruUpdate, AMismatchIsWrittenOnceMoreAndReportedWhenItStays) {
  // A BMC that stores the byte at 0x40 altered: the read-back sees the
  // difference on both passes.
  sim::SimulatedBmc& normalising = Bmc("", "", before_);
  const std::vector<uint8_t> wanted = after_;
  normalising.OverrideHandler([&normalising, &wanted](const std::vector<uint8_t>& request) {
    std::vector<uint8_t> copy = request;
    if (copy.size() > 5 && copy[1] == 0x12 && copy[3] == 0x40) copy[5] ^= 0xFF;  // stores offset 0x40 altered
    return normalising.Core().Handle(copy);
  });
  EXPECT_EQ(UpdateFruData(Device(), 0, wanted.data(), 256, before_.data(), readBack_.data(), &touched_), FruWriteOutcome::Unsettled);
  std::string console = TakeConsole();
  char expected[128];
  snprintf(expected, sizeof(expected), "[ERROR] Verify FRU data: offset 0x40 reads 0x%02x, 0x%02x was written\n",
           static_cast<uint8_t>(wanted[0x40] ^ 0xFF), wanted[0x40]);
  EXPECT_EQ(console, std::string(expected) + "[ERROR] The FRU may now hold a mix of old and new data\n");
  EXPECT_EQ(normalising.Requests(), 2u * (8u + 8u));  // written and read back twice, never restored
}

TEST_F(FruUpdate, AWriteThatBreaksOffIsUndone) {
  // The third chunk fails all eleven attempts; the BMC answers again for the restore.
  sim::SimulatedBmc& bmc = Bmc("cc=0xD5@write#3-13", "", before_);
  EXPECT_EQ(UpdateFruData(Device(), 0, after_.data(), 256, before_.data(), readBack_.data(), &touched_), FruWriteOutcome::Restored);
  EXPECT_EQ(TakeConsole(), "[ERROR] Write Fru 0 startOffset=0x40, length=32\n"
                           "Restore FRU data 96 bytes\n"
                           "[ERROR] The write failed; the FRU holds its original data again\n");
  EXPECT_EQ(bmc.Fru(), before_);
}

TEST_F(FruUpdate, ARestoreThatFailsSaysSo) {
  sim::SimulatedBmc& bmc = Bmc("cc=0xD5@write#3+", "", before_);
  EXPECT_EQ(UpdateFruData(Device(), 0, after_.data(), 256, before_.data(), readBack_.data(), &touched_), FruWriteOutcome::Unsettled);
  std::string console = TakeConsole();
  EXPECT_NE(console.find("[ERROR] The write failed and the FRU could not be restored: it may hold part of the new "
                         "data\n"),
            std::string::npos);
  EXPECT_NE(bmc.Fru(), before_);
}

TEST_F(FruUpdate, ARefusedFirstChunkIsPutBackTooForABmcMayHaveStoredPartOfIt) {
  sim::SimulatedBmc& bmc = Bmc("cc=0xD5@write#1-11", "", before_);
  EXPECT_EQ(UpdateFruData(Device(), 0, after_.data(), 256, before_.data(), readBack_.data(), &touched_), FruWriteOutcome::Restored);
  EXPECT_EQ(TakeConsole(), "[ERROR] Write Fru 0 startOffset=0x0, length=32\n"
                           "Restore FRU data 32 bytes\n"
                           "[ERROR] The write failed; the FRU holds its original data again\n");
  EXPECT_EQ(bmc.Requests(), 11u + 1u + 1u);  // the refused attempts, the restore and its read-back
}

TEST_F(FruUpdate, ClearWritesZerosAndChecksThem) {
  sim::SimulatedBmc& bmc = Bmc("", "", before_);
  EXPECT_EQ(ClearFruData(Device(), 0, 256, before_.data(), readBack_.data(), zeros_.data(), &touched_), FruWriteOutcome::Written);
  EXPECT_EQ(bmc.Fru(), std::vector<uint8_t>(256, 0));
  EXPECT_EQ(TakeConsole(), "Clear FRU data...\ndone.\n");

  sim::SimulatedBmc& broken = Bmc("cc=0xD5@write#2-12", "", before_);
  EXPECT_EQ(ClearFruData(Device(), 0, 256, before_.data(), readBack_.data(), zeros_.data(), &touched_), FruWriteOutcome::Restored);
  EXPECT_EQ(TakeConsole(), "Clear FRU data...\n[ERROR] Write Fru 0 startOffset=0x20, length=32\n"
                           "Restore FRU data 64 bytes\n"
                           "[ERROR] The write failed; the FRU holds its original data again\nerror.\n");
  EXPECT_EQ(broken.Fru(), before_);
}

// A BMC that takes a chunk whole but stores its last byte inverted. A run's
// last byte is often an area's checksum: the read-back must look at it too,
// in every run, and in the restore's read-back as well.
TEST_F(FruUpdate, TheReadBackSeesTheLastByteOfEveryRun) {
  const auto inverted = [](std::vector<uint8_t> bytes, size_t at) {
    bytes[at] ^= 0xFF;
    return bytes;
  };
  const auto verify = [](size_t at, uint8_t written) {
    char line[96];
    snprintf(line, sizeof(line), "[ERROR] Verify FRU data: offset 0x%zx reads 0x%02x, 0x%02x was written\n", at,
             static_cast<uint8_t>(written ^ 0xFF), written);
    return line + std::string("[ERROR] The FRU may now hold a mix of old and new data\n");
  };
  std::vector<uint8_t> twoRuns = before_;  // chunks 0x00-0x1f and 0x40-0x5f are sent
  twoRuns[5] ^= 0xFF;
  twoRuns[70] ^= 0xFF;
  struct Case {
    const char* name;
    const char* faults;
    std::vector<uint8_t> wanted;
    FruWriteOutcome outcome;
    std::string console;
    std::vector<uint8_t> held;  // what the BMC holds afterwards
  };
  const Case cases[] = {
      {"the last chunk, once", "last-wrong=write#8", after_, FruWriteOutcome::Written, "", after_},
      {"the last chunk, both passes", "last-wrong=write#8,last-wrong=write#16", after_, FruWriteOutcome::Unsettled,
       verify(0xFF, after_[0xFF]), inverted(after_, 0xFF)},
      {"the second run, both passes", "last-wrong=write#2,last-wrong=write#4", twoRuns, FruWriteOutcome::Unsettled,
       verify(0x5F, twoRuns[0x5F]), inverted(twoRuns, 0x5F)},
      // The third chunk is refused throughout; the restore's last chunk is stored wrong.
      {"the restore's last chunk", "cc=0xD5@write#3-13,last-wrong=write#16", after_, FruWriteOutcome::Unsettled,
       "[ERROR] Write Fru 0 startOffset=0x40, length=32\nRestore FRU data 96 bytes\n"
       "[ERROR] The write failed and the FRU could not be restored: it may hold part of the new data\n",
       inverted(before_, 0x5F)},
  };
  for (const Case& c : cases) {
    sim::SimulatedBmc& bmc = Bmc(c.faults, "", before_);
    EXPECT_EQ(UpdateFruData(Device(), 0, c.wanted.data(), 256, before_.data(), readBack_.data(), &touched_), c.outcome)
        << c.name;
    EXPECT_EQ(TakeConsole(), c.console) << c.name;
    EXPECT_EQ(bmc.Fru(), c.held) << c.name;
  }

  sim::SimulatedBmc& bmc = Bmc("last-wrong=write#8,last-wrong=write#16", "", before_);
  EXPECT_EQ(ClearFruData(Device(), 0, 256, before_.data(), readBack_.data(), zeros_.data(), &touched_),
            FruWriteOutcome::Unsettled);
  EXPECT_EQ(TakeConsole(), "Clear FRU data...\n" + verify(0xFF, 0x00) + "error.\n");
  EXPECT_EQ(bmc.Fru(), inverted(std::vector<uint8_t>(256, 0x00), 0xFF));
}

// The Write FRU Data requests the BMC received: (offset, length) of each.
class ChunkLog {
 public:
  explicit ChunkLog(sim::SimulatedBmc& bmc) {
    bmc.OverrideHandler([this, &bmc](const std::vector<uint8_t>& request) {
      if (request.size() > 5 && request[1] == 0x12) writes.emplace_back(request[3] | request[4] << 8, request.size() - 5);
      if (request.size() == 6 && request[1] == 0x11) ++reads;
      return bmc.Core().Handle(request);
    });
  }
  std::vector<std::pair<size_t, size_t>> writes;
  int reads = 0;
};

TEST_F(FruUpdate, OnlyTheChunksThatHoldChangesAreSentAndReadBack) {
  struct Case {
    const char* name;
    std::vector<size_t> changed;  // offsets whose byte the edit changes
    const char* faults;
    std::vector<std::pair<size_t, size_t>> writes;  // accepted or refused
  };
  const Case cases[] = {
      {"nothing changes", {}, "", {}},
      {"three fields", {5, 70, 71, 200}, "", {{0, 32}, {64, 32}, {192, 32}}},
      {"the last byte", {255}, "", {{224, 32}}},
      // Chunks over 16 bytes refused: the changed range 40..60 is halved mid-range and still covered.
      {"halved in the middle", {40, 60}, "max-chunk=16", {{32, 32}, {32, 16}, {48, 16}}},
      // Only the second half of the halved chunk holds a change: the first half is not sent.
      {"halved, second half", {50}, "max-chunk=16", {{32, 32}, {48, 16}}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> after = before_;
    for (size_t offset : c.changed) after[offset] ^= 0xFF;
    sim::SimulatedBmc& bmc = Bmc(c.faults, "", before_);
    ChunkLog log(bmc);
    EXPECT_EQ(UpdateFruData(Device(), 0, after.data(), 256, before_.data(), readBack_.data(), &touched_), FruWriteOutcome::Written) << c.name;
    EXPECT_EQ(log.writes, c.writes) << c.name;
    EXPECT_EQ(bmc.Fru(), after) << c.name;
    if (c.changed.empty()) {
      EXPECT_EQ(log.reads, 0) << c.name;  // nothing written, nothing to read back
    }
    EXPECT_EQ(TakeConsole(), "") << c.name;
  }
}

}  // namespace

// A dry run's "Would write" line: exactly the chunks a write then sends.
TEST_F(FruUpdate, APlanCountsTheChunksTheWriteSends) {
  struct Case {
    std::vector<size_t> changed;  // offsets made to differ
    size_t size;
    FruWriteSchedule schedule;
    FruWritePlan plan;
  };
  const Case cases[] = {
      {{}, 256, FruWriteSchedule::ChangedChunks, {0, 0}},
      {{0, 31}, 256, FruWriteSchedule::ChangedChunks, {32, 1}},
      {{31, 32, 255}, 256, FruWriteSchedule::ChangedChunks, {96, 3}},
      {{199}, 200, FruWriteSchedule::ChangedChunks, {8, 1}},
      {{}, 200, FruWriteSchedule::WholeImage, {200, 7}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> edited = before_;
    for (size_t at : c.changed) edited[at] ^= 0xFF;
    const FruWriteOptions options{c.schedule};
    const FruWritePlan plan = PlanFruWrite(edited.data(), c.size, before_.data(), options);
    EXPECT_EQ(plan.bytes, c.plan.bytes);
    EXPECT_EQ(plan.chunks, c.plan.chunks);
    sim::SimulatedBmc& bmc = Bmc("", "", before_);
    if (plan.chunks > 0 || c.schedule == FruWriteSchedule::WholeImage) {
      UpdateFruData(Device(), 0, edited.data(), c.size, before_.data(), readBack_.data(), &touched_, options);
    }
    EXPECT_EQ(bmc.CommandCount(sim::Command::WriteFru), plan.chunks);
  }
}
