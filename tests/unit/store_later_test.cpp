// Writes against a simulated BMC that stores its FRU later, over the KCS
// interface the firmware uses: every edit ends with the new image stored by
// the run's own storing chunk, never half an image, and a store the BMC
// refuses or never makes is never reported as written.
#include "bmc/fru_store_order.h"
#include "bmc/fru_update.h"
#include "bmc_test_support.h"
#include "fru_bytes.h"
#include "store_later.h"
#include "virtual_clock.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

const Bytes kDate{0x00, 0x20, 0x57, 0xE2};

Bytes Board(const std::string& serial) { return InfoArea({kDate, Text("Acme"), Text(""), Text(serial), Text(""), {0x00}}); }
Bytes Product(const std::string& serial) {
  return InfoArea({{0x00}, Text("Acme"), Text("Box"), Text(""), Text(""), Text(serial), Text(""), {0x00}});
}
// Chassis, board and product areas, the product last, in exactly the bytes they use.
Bytes Fru(const std::string& board, const std::string& product, size_t size = 0) {
  const Bytes chassis = InfoArea({{0x17}, Text(""), Text("CS-1"), Text("")});
  const Bytes b = Board(board);
  const Bytes p = Product(product);
  const int boardUnit = 1 + static_cast<int>(chassis.size() / 8);
  const int productUnit = boardUnit + static_cast<int>(b.size() / 8);
  const size_t used = static_cast<size_t>(productUnit) * 8 + p.size();
  return Image(size != 0 ? size : used, {0, 1, boardUnit, productUnit, 0}, {{1, chassis}, {boardUnit, b}, {productUnit, p}});
}
// A board area and a MultiRecord Area that stands last.
Bytes WithRecords(const std::string& board, size_t records) {
  const Bytes b = Board(board);
  const int recordUnit = 1 + static_cast<int>(b.size() / 8);
  return Image(static_cast<size_t>(recordUnit) * 8 + records, {0, 0, 1, 0, recordUnit},
               {{1, b}, {recordUnit, MultiRecords(records, 0x30, 5)}});
}

// The product area behind a gap of zeros, and moved onto a chunk boundary in
// that gap: once the new header is in, the cache reads the last area's length
// there as 0 until the chunk that holds it arrives, and the chunk before it
// would reach that end.
Bytes Chassis() { return InfoArea({{0x17}, Text(""), Text("CS-1"), Text("")}); }
Bytes Gapped() { return Image(112, {0, 1, 3, 10, 0}, {{1, Chassis()}, {3, Board("SN-OLD1")}, {10, Product("PS-OLD1")}}); }
Bytes MovedIntoTheGap() {
  return Image(96, {0, 1, 3, 8, 0}, {{1, Chassis()}, {3, Board("SN-NEW-LONGER-BY-16")}, {8, Product("PS-OLD1")}});
}

class StoreLater : public BmcTest {
 protected:
  // Writes after over before on a BMC with the given faults; records, after each
  // Write FRU Data, whether the FRU file changed.
  FruWriteOutcome Write(const std::string& faults, const Bytes& before, const Bytes& after, const Bytes* target = nullptr) {
    sim::SimulatedBmc& bmc = Bmc(faults, "", before);
    stores_.clear();
    bmc.OverrideHandler([this, &bmc](const std::vector<uint8_t>& request) {
      const Bytes file = bmc.Fru();
      auto answer = bmc.Core().Handle(request);
      if (request.size() > 5 && request[1] == 0x12) stores_.push_back(bmc.Fru() != file);
      return answer;
    });
    readBack_.assign(before.size() + after.size(), 0);
    zeros_.assign(before.size(), 0);
    FruWriteOptions options;
    options.originalSize = before.size();
    if (target == nullptr) {
      return ClearFruData(Device(), 0, static_cast<uint16_t>(before.size()), before.data(), readBack_.data(),
                          zeros_.data(), &touched_);
    }
    return UpdateFruData(Device(), 0, after.data(), after.size(), before.data(), readBack_.data(), &touched_, options);
  }
  Bytes Head(size_t size) { return Bytes(bmc_->Fru().begin(), bmc_->Fru().begin() + static_cast<long>(size)); }
  std::vector<bool> stores_;
  Bytes readBack_;
  Bytes zeros_;
  FruTouched touched_{};
};

TEST_F(StoreLater, EveryEditIsStoredWholeByItsLastChunkAndProvenBeforeItCounts) {
  const Bytes before = Fru("SN-OLD1", "PS-OLD1");
  struct Edit {
    const char* name;
    Bytes before;
    Bytes after;
  };
  const Edit edits[] = {
      {"board serial (an area before the last)", before, Fru("SN-NEW1", "PS-OLD1")},
      {"product serial (the last area)", before, Fru("SN-OLD1", "PS-NEW1")},
      {"the product moves back", before, Fru("SN-NEW-LONGER1", "PS")},
      {"the product moves forward", Fru("SN-NEW-LONGER1", "PS"), before},
      {"a shrinking store", before, Fru("SN-OLD1", "PS")},
      {"the product moves onto a chunk boundary", Gapped(), MovedIntoTheGap()},
      {"records last, moved", WithRecords("SN-OLD1", 300), [] {
         Bytes moved = WithRecords("SN-NEW-LONGER1", 292);
         return moved;
       }()},
  };
  for (const Edit& e : edits) {
    for (const char* faults : {"store-later", ""}) {
      SCOPED_TRACE(std::string(e.name) + " on \"" + faults + "\"");
      ASSERT_LE(e.after.size(), e.before.size());
      EXPECT_EQ(Write(faults, e.before, e.after, &e.after), FruWriteOutcome::Written);
      EXPECT_EQ(TakeConsole(), "");
      EXPECT_EQ(Head(e.after.size()), e.after);
      if (*faults == '\0') continue;
      // Stored by the run's last chunk, not by the BMC's timer, and by no chunk before it.
      ASSERT_FALSE(stores_.empty());
      EXPECT_TRUE(stores_.back());
      EXPECT_EQ(std::count(stores_.begin(), stores_.end(), true), 1);
      EXPECT_LT(bmc_->NowUs(), 10'000'000u);
    }
  }
}

TEST_F(StoreLater, ARefusedOrLostStoreIsNeverReportedAsWritten) {
  const Bytes before = Fru("SN-OLD1", "PS-OLD1");
  const Bytes after = Fru("SN-NEW1", "PS-NEW1");
  struct Case {
    const char* faults;
    bool clear;
    FruWriteOutcome outcome;
    std::string console;
    Bytes file;
    size_t writes;  // Write FRU Data requests, the restore's included
  };
  const std::string restored = "[ERROR] The write failed; the FRU holds its original data again\n";
  const Case cases[] = {
      {"store-later", true, FruWriteOutcome::Restored,
       "Clear FRU data...\n[ERROR] The BMC refused to store the FRU (0xCC)\nRestore FRU data 32 bytes\n" + restored +
           "[ERROR] This BMC stores only FRU data it can parse: a cleared FRU cannot be stored on it\nerror.\n",
       before, 3},
      // The storing chunk (the second sent: the FRU's third) refused: both are put back and stored.
      {"store-later,cc=0xCC@write#2", false, FruWriteOutcome::Restored,
       "[ERROR] The BMC refused to store the FRU (0xCC)\nRestore FRU data 48 bytes\n" + restored, before, 4},
      {"store-later=never", false, FruWriteOutcome::Unsettled, "[ERROR] The BMC did not store the FRU within 15 s\n",
       before, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    EXPECT_EQ(Write(c.faults, before, after, c.clear ? nullptr : &after), c.outcome);
    EXPECT_EQ(stores_.size(), c.writes);  // the restore sends only what the write touched
    EXPECT_EQ(TakeConsole(), c.console);
    EXPECT_EQ(bmc_->Fru(), c.file);
    EXPECT_LT(bmc_->NowUs(), 20'000'000u);
  }
}

// The order alone, on the cache as the BMC reads it: no chunk but the last reaches the end.
TEST_F(StoreLater, TheStoringChunkIsTheOnlyOneThatReachesTheEnd) {
  ASSERT_EQ(Board("SN-NEW-LONGER-BY-16").size(), 40u);
  const Bytes before = Fru("SN-OLD1", "PS-OLD1-WITH-A-LONGER-TAIL");
  const std::pair<Bytes, Bytes> edits[] = {{before, Fru("SN-NEW-LONGER-BY-SIXTEEN", "PS-X")},
                                           {before, Fru("S", "PS-OLD1-WITH-A-LONGER-TAIL-STILL")},
                                           {Gapped(), MovedIntoTheGap()}};
  for (const auto& [before, after] : edits) {
    FruStorePlan plan{after.data(), after.size(), before.data(), before.size(), nullptr, nullptr, {}, {}};
    std::fill(std::begin(plan.due), std::end(plan.due), 0);
    std::fill(std::begin(plan.sent), std::end(plan.sent), 0);
    const size_t chunks = (after.size() + 31) / 32;
    for (size_t c = 0; c < chunks; ++c) MarkStoreChunk(plan.due, c);
    Bytes cache = before;
    cache.resize(std::max(before.size(), after.size()), 0xFF);
    size_t chunk = 0;
    std::vector<size_t> order;
    while (NextStoreChunk(plan, &chunk)) {
      const size_t end = std::min((chunk + 1) * 32, after.size());
      std::copy(after.begin() + static_cast<long>(chunk * 32), after.begin() + static_cast<long>(end),
                cache.begin() + static_cast<long>(chunk * 32));
      order.push_back(chunk);
      const bool reaches = end >= FruStoreEnd(cache.data(), cache.size());
      EXPECT_EQ(reaches, order.size() == chunks) << "chunk " << chunk << " as number " << order.size();
    }
    EXPECT_EQ(order.size(), chunks);
    EXPECT_EQ(Bytes(cache.begin(), cache.begin() + static_cast<long>(after.size())), after);
  }
}

Bytes FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PutFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The model's own clock: the timer stores 10 s after the last write that did
// not reach the end, a killed run's cache carries the time left into the next
// run, and after a store reads show the old image for 1 s, then no device for
// 200 ms, then the stored image.
TEST(LaterStoreModel, TheTimerTheCacheFileAndTheRescanKeepTheirTimes) {
  const std::string path = std::filesystem::temp_directory_path() / ("later-" + std::to_string(getpid()) + ".bin");
  const Bytes before = Fru("SN-OLD1", "PS-OLD1");
  const Bytes after = Fru("SN-NEW1", "PS-OLD1");
  PutFile(path, before);
  std::remove((path + ".cache").c_str());
  sim::VirtualClock clock;
  std::vector<uint8_t> fru = before;
  {
    sim::LaterStore first(&clock, false);
    first.Open(path, &fru);
    uint8_t count = 0xAA;
    // The chunk that holds the board serial: it ends before the last area does.
    const size_t at = 32;
    ASSERT_EQ(first.Write(at, Bytes(after.begin() + at, after.begin() + at + 32), &count), 0);
    EXPECT_EQ(count, 0);
    clock.Advance(4'000'000);  // the run is killed 4 s after its write
  }
  sim::LaterStore next(&clock, false);
  std::vector<uint8_t> file = FileBytes(path);
  next.Open(path, &file);
  ASSERT_NE(next.Visible(), nullptr);
  EXPECT_EQ(*next.Visible(), after);  // the cache the killed run left
  clock.Advance(10'000'000 - 1);
  next.Tick();
  EXPECT_EQ(FileBytes(path), before);
  clock.Advance(1);
  next.Tick();
  EXPECT_EQ(FileBytes(path), after);
  EXPECT_FALSE(std::filesystem::exists(path + ".cache"));
  clock.Advance(1'000'000 - 1);
  ASSERT_NE(next.Visible(), nullptr);
  EXPECT_EQ(*next.Visible(), before);
  clock.Advance(1);
  EXPECT_EQ(next.Visible(), nullptr);
  clock.Advance(200'000 - 1);
  EXPECT_EQ(next.Visible(), nullptr);
  clock.Advance(1);
  ASSERT_NE(next.Visible(), nullptr);
  EXPECT_EQ(*next.Visible(), after);
  std::remove(path.c_str());
}

// A BMC that holds the writes, then stores an image that is neither the old
// one nor the new (a third party's, a store gone wrong): never "written".
struct ThirdImageBmc {
  Bytes shown;  // what every read answers once the write began
  static PlatformFruTransfer Read(void* self, int32_t, size_t offset, size_t count, uint8_t* into) {
    const Bytes& shown = static_cast<ThirdImageBmc*>(self)->shown;
    std::copy(shown.begin() + static_cast<long>(offset), shown.begin() + static_cast<long>(offset + count), into);
    return {PlatformFruOutcome::Done, count};
  }
  static PlatformFruTransfer Write(void*, int32_t, size_t, const uint8_t*, size_t count) {
    return {PlatformFruOutcome::Held, count};
  }
  static bool Flush(void*) { return true; }
  static bool Answering(void*) { return true; }
};

TEST_F(StoreLater, AStoreThatShowsAThirdImageIsNeverWritten) {
  const Bytes before = Fru("SN-OLD1", "PS-OLD1");
  const Bytes after = Fru("SN-NEW1", "PS-OLD1");
  ThirdImageBmc bmc{Fru("SN-XXX1", "PS-OLD1")};
  const PlatformFruDevice ops{nullptr, nullptr, nullptr, ThirdImageBmc::Read, ThirdImageBmc::Write,
                              ThirdImageBmc::Flush, ThirdImageBmc::Answering, &bmc, 0};
  FruDevice device{};
  device.ops = &ops;
  Bytes readBack(after.size());
  FruTouched touched{};
  const FruWriteOutcome outcome = UpdateFruData(device, 0, after.data(), after.size(), before.data(), readBack.data(),
                                                &touched, FruWriteOptions{});
  EXPECT_EQ(outcome, FruWriteOutcome::Unsettled);
  EXPECT_NE(TakeConsole().find("[ERROR] The FRU may now hold a mix of old and new data\n"), std::string::npos);
}

}  // namespace
