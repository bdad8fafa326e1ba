// The host tool against a simulated BMC that stores its FRU later: what a run
// prints and what the FRU file holds the moment it exits, a kill after any
// chunk, and the same edits on a BMC that stores at once.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>

#include "cli_harness.h"
#include "fru_bytes.h"

namespace fs = std::filesystem;

namespace {

const Bytes kDate{0x00, 0x20, 0x57, 0xE2};

// Chassis, board and product areas, the product last, in exactly the bytes they use
// (such a BMC reports that used size as its inventory).
Bytes Fru(const std::string& board, const std::string& product) {
  const Bytes chassis = InfoArea({{0x17}, Text(""), Text("CS-1"), Text("")});
  const Bytes b = InfoArea({kDate, Text("Acme"), Text(""), Text(board), Text(""), {0x00}});
  const Bytes p = InfoArea({{0x00}, Text("Acme"), Text("Box"), Text(""), Text(""), Text(product), Text(""), {0x00}});
  const int boardUnit = 1 + static_cast<int>(chassis.size() / 8);
  const int productUnit = boardUnit + static_cast<int>(b.size() / 8);
  return Image(static_cast<size_t>(productUnit) * 8 + p.size(), {0, 1, boardUnit, productUnit, 0},
               {{1, chassis}, {boardUnit, b}, {productUnit, p}});
}

const Bytes kBefore = Fru("SN-OLD1", "PS-OLD1");

struct Edit {
  const char* name;
  std::vector<std::string> args;
  Bytes after;
};
const Edit kEdits[] = {
    {"board serial", {"ID=0", "BSN=SN-NEW1"}, Fru("SN-NEW1", "PS-OLD1")},
    {"product serial", {"ID=0", "PSN=PS-NEW1"}, Fru("SN-OLD1", "PS-NEW1")},
    {"areas moved", {"ID=0", "BSN=SN-NEW-LONGER1", "PSN=PS"}, Fru("SN-NEW-LONGER1", "PS")},
};

const std::string kRestored = "[ERROR] The write failed; the FRU holds its original data again\n";

class StoreLaterCli : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(Fru(), kBefore);
    fs::remove(Fru() + ".cache");
    fs::remove_all(dir_.File("journal"));
  }
  std::string Fru() const { return dir_.File("fru.bin"); }
  CliResult Run(const std::vector<std::string>& args, const std::string& faults) {
    std::map<std::string, std::string> env{{"TAGFORGE_BMC", "sim:" + Fru()},
                                           {"TAGFORGE_JOURNAL", dir_.File("journal")},
                                           {"TAGFORGE_SIM_STATS", "1"}};
    if (!faults.empty()) env["TAGFORGE_SIM_FAULTS"] = faults;
    return RunTagforge(CliRun{args, env, "", dir_.path()});
  }
  size_t Entries() const {
    size_t count = 0;
    if (fs::exists(dir_.File("journal"))) {
      for (const auto& e : fs::directory_iterator(dir_.File("journal"))) count += EndsWith(e.path().string(), ".entry");
    }
    return count;
  }
  static uint64_t Counter(const CliResult& r, const std::string& name) {
    const size_t at = r.errors.find(" " + name + "=");
    return at == std::string::npos ? UINT64_MAX : std::stoull(r.errors.substr(at + name.size() + 2));
  }
  TempDir dir_;
};

// The sample FRU's last area is a MultiRecord area that ends off the 8-byte
// grid: the rebuilt image carries padding after it, which such a BMC neither
// stores nor reads back. The edit is proved on what it stores, and ends done.
TEST_F(StoreLaterCli, AnImagePaddedPastItsLastAreaIsProvedOnWhatIsStored) {
  const std::vector<std::string> edit{"ID=0", "BSN=123456", "BDT=2018/1/1"};
  fs::remove(Fru());
  ASSERT_EQ(Run({"ID=0"}, "").status, 0);  // the sample, as an at-once BMC makes it
  const Bytes sample = ReadFileBytes(Fru());
  ASSERT_EQ(Run(edit, "").status, 0);
  const Bytes atOnce = ReadFileBytes(Fru());
  WriteFileBytes(Fru(), sample);
  const CliResult r = Run(edit, "store-later");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(EndsWith(r.output, "done.\n")) << r.output;
  EXPECT_EQ(Entries(), 0u);
  const Bytes stored = ReadFileBytes(Fru());
  ASSERT_LE(stored.size(), atOnce.size());
  EXPECT_EQ(stored, Bytes(atOnce.begin(), atOnce.begin() + static_cast<long>(stored.size())));
  EXPECT_NE(stored, Bytes(sample.begin(), sample.begin() + static_cast<long>(std::min(sample.size(), stored.size()))));
}

// A Ctrl-C while the run waits for the store: the run ends at once and keeps
// its entry, and its record does not claim to know what the FRU holds (a read
// then shows the image from before the store, whatever the BMC stores).
TEST_F(StoreLaterCli, AnInterruptedWaitClaimsNoContents) {
  const CliResult counted = Run(kEdits[0].args, "store-later");
  ASSERT_EQ(counted.status, 0) << counted.output;
  const uint64_t writes = Counter(counted, "fru_writes");
  SetUp();
  const std::string report = dir_.File("records.jsonl");
  std::map<std::string, std::string> env{{"TAGFORGE_BMC", "sim:" + Fru()},
                                         {"TAGFORGE_JOURNAL", dir_.File("journal")},
                                         {"TAGFORGE_REPORT", report},
                                         {"TAGFORGE_SIM_FAULTS", "store-later,signal=INT@" + std::to_string(writes)}};
  const CliResult r = RunTagforge(CliRun{kEdits[0].args, env, "", dir_.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("[ERROR] Interrupted by SIGINT\n"), std::string::npos) << r.output;
  EXPECT_TRUE(EndsWith(r.output, "error.\n")) << r.output;
  EXPECT_EQ(Entries(), 1u);
  const Bytes held = ReadFileBytes(report);
  const std::string record(held.begin(), held.end());
  EXPECT_NE(record.find("\"fields_from\":\"unknown\""), std::string::npos) << record;
  const Bytes file = ReadFileBytes(Fru());
  EXPECT_TRUE(file == kBefore || file == kEdits[0].after);
}

TEST_F(StoreLaterCli, EditsByTheAnswersOfTheBmc) {
  struct Answer {
    const char* faults;
    int status;
    std::string ending;  // empty: "done."
    bool stored;         // the file holds the new image, else the original
    bool kept;           // the journal entry stays for the next run
  };
  const Answer answers[] = {
      {"store-later", 0, "", true, false},
      {"", 0, "", true, false},
      {"store-later=never", 1, "[ERROR] The BMC did not store the FRU within 15 s\nerror.\n", false, true},
      // The first chunk sent refused: for the product serial it is the storing chunk itself.
      {"store-later,cc=0xCC@write#1", 1, "[ERROR] The BMC refused to store the FRU (0xCC)\n", false, false},
  };
  for (const Edit& e : kEdits) {
    size_t changed = 0;
    for (size_t at = 0; at < e.after.size(); at += 32) {
      changed += !std::equal(e.after.begin() + at, e.after.begin() + std::min(at + 32, e.after.size()), kBefore.begin() + at);
    }
    for (const Answer& a : answers) {
      SetUp();
      const CliResult r = Run(e.args, a.faults);
      SCOPED_TRACE(std::string(e.name) + " on \"" + a.faults + "\"\n" + r.output + r.errors);
      EXPECT_EQ(r.status, a.status);
      if (a.ending.empty()) {
        EXPECT_TRUE(EndsWith(r.output, "Write FRU data " + std::to_string(e.after.size()) + " bytes\ndone.\n"));
      } else if (a.status == 1 && std::string(a.faults).find("0xCC") != std::string::npos) {
        EXPECT_NE(r.output.find(a.ending + "Restore FRU data "), std::string::npos);
        EXPECT_TRUE(EndsWith(r.output, kRestored + "error.\n"));
      } else {
        EXPECT_TRUE(EndsWith(r.output, a.ending));
      }
      EXPECT_EQ(ReadFileBytes(Fru()), a.stored ? e.after : kBefore);
      EXPECT_EQ(Entries(), a.kept ? 1u : 0u);
      // Stored by the run's own last chunk: the BMC's timer (10 s) never came due.
      if (a.stored) {
        EXPECT_LT(Counter(r, "virtual_us"), 10'000'000u);
      }
      EXPECT_LT(Counter(r, "virtual_us"), 20'000'000u);
      // A BMC that stores at once gets the changed chunks and no request more.
      if (*a.faults == '\0') {
        EXPECT_EQ(Counter(r, "fru_writes"), changed);
      }
    }
  }
}

TEST_F(StoreLaterCli, AClearIsRefusedAndTheOriginalStoredBack) {
  for (const char* faults : {"store-later", "store-later=never"}) {
    SetUp();
    const CliResult r = Run({"ID=0", "ClearFru=1"}, faults);
    SCOPED_TRACE(faults);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(EndsWith(r.output, "Clear FRU data...\n[ERROR] The BMC refused to store the FRU (0xCC)\n"
                                   "Restore FRU data 32 bytes\n" + kRestored +
                                   "[ERROR] This BMC stores only FRU data it can parse: a cleared FRU cannot be "
                                   "stored on it\nerror.\n"))
        << r.output;
    EXPECT_EQ(ReadFileBytes(Fru()), kBefore);
    EXPECT_EQ(Entries(), 0u);
  }
}

TEST_F(StoreLaterCli, TheWaitIsSaidInOneVerboseLineAndASignalEndsIt) {
  const Edit& moved = kEdits[2];
  CliResult r = Run({"-v", "ID=0", "BSN=SN-NEW-LONGER1", "PSN=PS"}, "store-later");
  EXPECT_NE(r.output.find("\nThe BMC stores FRU data later: its store showed after 1200 ms of waiting (13 looks)\ndone.\n"),
            std::string::npos)
      << r.output;
  // A signal as the storing chunk is taken: the wait ends at once, the entry stays, the next run settles it.
  SetUp();
  r = Run(moved.args, "store-later,signal=INT@3");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(EndsWith(r.output, "Write FRU data 80 bytes\n[ERROR] Interrupted by SIGINT\nerror.\n")) << r.output;
  EXPECT_EQ(Entries(), 1u);
  r = Run({"ID=0"}, "store-later");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ReadFileBytes(Fru()), moved.after);
  EXPECT_EQ(Entries(), 0u);
  // A signal before it: the chunks sent are put back and stored.
  SetUp();
  r = Run(moved.args, "store-later,signal=INT@1");
  EXPECT_TRUE(EndsWith(r.output, "[ERROR] Interrupted by SIGINT\nRestore FRU data 32 bytes\n" + kRestored + "error.\n"))
      << r.output;
  EXPECT_EQ(ReadFileBytes(Fru()), kBefore);
  EXPECT_FALSE(fs::exists(Fru() + ".cache"));
}

TEST_F(StoreLaterCli, AKillAfterAnyChunkLeavesTheNewImageOrTheOriginalAfterTheNextRun) {
  int kills = 0;
  for (const Edit& e : kEdits) {
    for (int k = 1; k <= 3; ++k) {
      SetUp();
      const CliResult killed = Run(e.args, "store-later,signal=KILL@" + std::to_string(k));
      SCOPED_TRACE(std::string(e.name) + ", killed after write " + std::to_string(k) + "\n" + killed.output);
      if (killed.status != 128 + SIGKILL) continue;  // the edit sends fewer chunks
      ++kills;
      const CliResult next = Run({"ID=0"}, "store-later");
      EXPECT_EQ(next.status, 0) << next.output;
      const Bytes file = ReadFileBytes(Fru());
      EXPECT_TRUE(file == kBefore || file == e.after);
      EXPECT_FALSE(fs::exists(Fru() + ".cache"));  // whatever the next run found, it is stored
      EXPECT_EQ(Entries(), 0u);
      const CliResult again = Run(e.args, "store-later");
      EXPECT_TRUE(EndsWith(again.output, "done.\n")) << again.output;
      EXPECT_EQ(ReadFileBytes(Fru()), e.after);
    }
  }
  EXPECT_EQ(kills, 2 + 1 + 3);  // the board serial's chunk and its storing chunk, one, three
}

}  // namespace
