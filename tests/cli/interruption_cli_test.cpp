// A write that something outside the write loop breaks: a signal (the run
// stops at a chunk boundary and puts the FRU back), a kill (the next run finds
// the journal entry and undoes the torn write), a second run beside a live
// one, and an entry that no longer belongs to the FRU at that address.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli_harness.h"
#include "fru_bytes.h"
#include "processes.h"

namespace fs = std::filesystem;

namespace {

constexpr int kChunks = 64;  // a 2 KiB FRU in 32-byte chunks
const std::string kRestored = "[ERROR] The write failed; the FRU holds its original data again\nerror.\n";
const std::string kUndone = "FRU data read from BMC: ID=0\nRestored the FRU data that an interrupted run left half written\n";

// The board area stands last and the edit moves it first: every chunk changes.
Bytes Before() {
  const Bytes board = InfoArea({{0x00, 0x20, 0x57, 0xE2}, Text("Acme"), Text(""), Text("SN-OLD1"), Text(""), {0x00}});
  return Image(2048, {0, 0, 253, 0, 1}, {{1, MultiRecords(2048 - 8 - 24, 0x5A, 7)}, {253, board}});
}

class Interruption : public ::testing::Test {
 protected:
  void SetUp() override { WriteFileBytes(Fru(), Before()); }
  std::string Fru() const { return dir_.File("fru.bin"); }
  std::string Journal() const { return dir_.File("journal"); }
  CliResult Run(std::vector<std::string> args, const std::string& faults = "",
                std::map<std::string, std::string> env = {}) {
    env.emplace("TAGFORGE_BMC", "sim:" + Fru());
    env.emplace("TAGFORGE_JOURNAL", Journal());
    env.emplace("TAGFORGE_SIM_STATS", "1");
    if (!faults.empty()) env.emplace("TAGFORGE_SIM_FAULTS", faults);
    return RunTagforge(CliRun{std::move(args), env, "", dir_.path()});
  }
  // The live entries in the journal folder (setAside: the entries kept for the record).
  std::vector<std::string> Entries(bool setAside = false) const {
    std::vector<std::string> found;
    if (!fs::exists(Journal())) return found;
    for (const auto& entry : fs::directory_iterator(Journal())) {
      const std::string path = entry.path().string();
      const bool kept = path.find(".set-aside-") != std::string::npos;
      if (EndsWith(path, ".entry") && kept == setAside) found.push_back(path);
    }
    return found;
  }
  // What the edit writes, from a run that nothing disturbs.
  Bytes Edited(const std::vector<std::string>& args) {
    TempDir other;
    WriteFileBytes(other.File("fru.bin"), Before());
    CliResult r = RunTagforge(CliRun{args, {{"TAGFORGE_BMC", "sim:" + other.File("fru.bin")}}, "", other.path()});
    EXPECT_EQ(r.status, 0) << r.output;
    return ReadFileBytes(other.File("fru.bin"));
  }
  TempDir dir_;
};

const std::vector<std::string> kEdit = {"ID=0", "BSN=SN-NEW1"};
const std::vector<std::string> kClear = {"ID=0", "ClearFru=1"};

TEST_F(Interruption, ASignalAfterAnyChunkPutsTheOriginalBackAndTheRecordSaysSo) {
  int cells = 0;
  for (const char* signal : {"INT", "TERM", "HUP"}) {
    for (const auto* args : {&kEdit, &kClear}) {
      for (int k = 1; k <= kChunks; ++k) {
        SetUp();
        fs::remove(dir_.File("report.jsonl"));
        const std::string fault = std::string("signal=") + signal + "@" + std::to_string(k);
        CliResult r = Run(*args, fault, {{"TAGFORGE_REPORT", dir_.File("report.jsonl")}});
        SCOPED_TRACE(fault + " " + (*args)[1] + "\n" + r.output);
        ++cells;
        EXPECT_EQ(r.status, 1);
        // The signal came as the BMC took write k: no chunk follows it, then the k are put back.
        EXPECT_NE(r.output.find(std::string("[ERROR] Interrupted by SIG") + signal + "\nRestore FRU data " +
                                std::to_string(32 * k) + " bytes\n"),
                  std::string::npos);
        EXPECT_NE(r.errors.find(" fru_writes=" + std::to_string(2 * k) + "\n"), std::string::npos) << r.errors;
        EXPECT_TRUE(EndsWith(r.output, kRestored));
        EXPECT_EQ(ReadFileBytes(Fru()), Before());
        EXPECT_TRUE(Entries().empty());  // settled: the original is back
        std::ifstream report(dir_.File("report.jsonl"));
        std::string line;
        ASSERT_TRUE(std::getline(report, line));
        const nlohmann::json record = nlohmann::json::parse(line);
        EXPECT_EQ(record["status"], 1);
        EXPECT_EQ(record["errors"][0], std::string("[ERROR] Interrupted by SIG") + signal);
      }
    }
  }
  printf("signal matrix: %d cells\n", cells);
}

TEST_F(Interruption, OutputThatCannotBeWrittenNeverStopsAWrite) {
  const Bytes after = Edited(kEdit);
  // A reader that goes away after ten bytes, as `tagforge -v ... | head` does.
  const std::string command = "cd " + dir_.path() + " && TAGFORGE_BMC=sim:" + Fru() + " TAGFORGE_JOURNAL=" + Journal() +
                              " " + TAGFORGE_BINARY + " -v ID=0 BSN=SN-NEW1 | head -c 10 > /dev/null;" +
                              " exit ${PIPESTATUS[0]}";
  EXPECT_EQ(std::system(("bash -c '" + command + "'").c_str()), 0);
  EXPECT_EQ(ReadFileBytes(Fru()), after);
  CliResult raised = Run(kEdit, "signal=PIPE@3");
  EXPECT_EQ(raised.status, 0);
  EXPECT_TRUE(EndsWith(raised.output, "done.\n"));
}

TEST_F(Interruption, AKilledRunIsUndoneByTheNextRunAndOnlyThen) {
  const Bytes after = Edited(kEdit);
  for (int k = 1; k <= kChunks; ++k) {
    SetUp();
    CliResult killed = Run(kEdit, "signal=KILL@" + std::to_string(k));
    SCOPED_TRACE("killed after write " + std::to_string(k) + "\n" + killed.output);
    ASSERT_EQ(killed.status, 128 + SIGKILL);
    ASSERT_EQ(Entries().size(), 1u);
    EXPECT_EQ(fs::status(Entries()[0]).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    const bool complete = k == kChunks;  // every chunk was stored: the FRU holds the new image whole
    // Every other run in between is a listing that shows the original back; the rest go straight to the edit.
    if (k % 2 == 1 || complete) {
      std::filesystem::remove(dir_.File("report.jsonl"));
      CliResult listing = Run({"ID=0"}, "", {{"TAGFORGE_REPORT", dir_.File("report.jsonl")}});
      EXPECT_EQ(listing.status, 0);
      EXPECT_EQ(listing.output.find(kUndone) != std::string::npos, !complete) << listing.output;
      // The record says the listing wrote: the k chunks the killed run had sent, put back.
      std::ifstream report(dir_.File("report.jsonl"));
      std::string line;
      ASSERT_TRUE(std::getline(report, line));
      const nlohmann::json record = nlohmann::json::parse(line);
      EXPECT_EQ(record["journal"], complete ? nlohmann::json() : nlohmann::json("restored"));
      EXPECT_EQ(record["bytes_written"], complete ? 0 : 32 * k);
      EXPECT_EQ(ReadFileBytes(Fru()), complete ? after : Before());
      EXPECT_TRUE(Entries().empty());
    }
    CliResult again = Run(kEdit);
    EXPECT_EQ(again.status, 0) << again.output;
    EXPECT_EQ(again.output.find(kUndone) != std::string::npos, k % 2 == 0 && !complete) << again.output;
    EXPECT_TRUE(EndsWith(again.output, "done.\n"));
    EXPECT_EQ(ReadFileBytes(Fru()), after);
    EXPECT_TRUE(Entries().empty());
  }
}

TEST_F(Interruption, ASecondRunBesideALiveOneStopsBeforeSendingAnything) {
  const Bytes after = Edited(kEdit);
  // The first run stops itself in the middle of its write, its lock held.
  CliResult first;
  std::thread live([&] { first = Run(kEdit, "signal=STOP@3"); });
  const pid_t pid = WaitForProcess([](const ProcessState& p) { return p.parent == getpid() && p.state == "T"; });
  ASSERT_GT(pid, 0);
  for (const auto* args : {&kEdit, &kClear}) {
    CliResult second = Run(*args);
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(EndsWith(second.output, "[ERROR] Another run is writing FRU 0 of this BMC\nReturn code = 1.\n"))
        << second.output;
    EXPECT_NE(second.errors.find(" requests=0 "), std::string::npos) << second.errors;
  }
  CliResult listing = Run({"ID=0"});
  EXPECT_EQ(listing.status, 1);  // a listing would read the FRU half written, and might undo a live write
  // The lock is the FRU's, not the journal's: another journal, none, or another path to the same file.
  ASSERT_EQ(link(Fru().c_str(), dir_.File("linked.bin").c_str()), 0);
  const std::map<std::string, std::string> others[] = {{{"TAGFORGE_JOURNAL", "off"}},
                                                       {{"TAGFORGE_JOURNAL", dir_.File("other-journal")}},
                                                       {{"TAGFORGE_BMC", "sim:" + dir_.File("linked.bin")}}};
  for (const auto& env : others) {
    CliResult beside = Run(kEdit, "", env);
    EXPECT_TRUE(EndsWith(beside.output, "[ERROR] Another run is writing FRU 0 of this BMC\nReturn code = 1.\n"))
        << env.begin()->second << "\n" << beside.output;
  }
  kill(pid, SIGCONT);
  live.join();
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_EQ(ReadFileBytes(Fru()), after);
}

// The entry goes once the FRU is known to hold one whole image; after a write
// that did not settle it stays, and the next run puts the FRU back.
TEST_F(Interruption, AnUnsettledWriteKeepsItsEntryForTheNextRun) {
  const struct {
    const char* faults;
    int status;
    const char* ending;
    bool kept;
  } rows[] = {
      {"", 0, "done.\n", false},
      {"cc=0xD5@write#3-13", 1, "[ERROR] The write failed; the FRU holds its original data again\nerror.\n", false},
      {"cc=0xD5@write#3+", 1,
       "[ERROR] The write failed and the FRU could not be restored: it may hold part of the new data\nerror.\n", true},
      // Chunks taken and never stored: the read-back finds them twice; a mismatch is never undone.
      {"drop=write#3+", 1, "[ERROR] The FRU may now hold a mix of old and new data\nerror.\n", true},
  };
  for (const auto& row : rows) {
    SetUp();
    CliResult r = Run(kEdit, row.faults);
    SCOPED_TRACE(std::string(row.faults) + "\n" + r.output);
    EXPECT_EQ(r.status, row.status);
    EXPECT_TRUE(EndsWith(r.output, row.ending));
    EXPECT_EQ(Entries().size(), row.kept ? 1u : 0u);
    if (!row.kept) continue;
    CliResult next = Run({"ID=0"});
    EXPECT_NE(next.output.find(kUndone), std::string::npos) << next.output;
    EXPECT_EQ(ReadFileBytes(Fru()), Before());
    EXPECT_TRUE(Entries().empty());
  }
}

// The entry is the file's, as the lock is: another name of it finds it.
TEST_F(Interruption, AKilledRunIsUndoneThroughAnotherNameOfItsFile) {
  ASSERT_EQ(Run(kEdit, "signal=KILL@3").status, 128 + SIGKILL);
  ASSERT_EQ(link(Fru().c_str(), dir_.File("linked.bin").c_str()), 0);
  CliResult listing = Run({"ID=0"}, "", {{"TAGFORGE_BMC", "sim:" + dir_.File("linked.bin")}});
  EXPECT_NE(listing.output.find(kUndone), std::string::npos) << listing.output;
  EXPECT_EQ(ReadFileBytes(Fru()), Before());
  EXPECT_TRUE(Entries().empty());
}

TEST_F(Interruption, AnEntryAboutAnotherFruIsSetAsideAndTheFruLeftAlone) {
  struct Case {
    const char* name;
    Bytes (*fru)(const Bytes& torn);  // what the address holds at the next run
    std::string faults;               // of the BMC the next run meets
  };
  const Case cases[] = {
      {"another board at the same address",
       [](const Bytes&) {
         return Image(2048, {0, 0, 1, 0, 0},
                      {{1, InfoArea({{0x00, 0x20, 0x57, 0xE2}, Text("Other"), Text(""), Text("SN-X"), Text(""), {0}})}});
       },
       ""},
      {"the same board rewritten by hand since",
       [](const Bytes& torn) {
         Bytes changed = torn;
         changed[2047] ^= 0xFF;  // neither the original's byte nor the new image's
         return changed;
       },
       ""},
      {"another BMC (its Device GUID)", [](const Bytes& torn) { return torn; },
       "guid=00112233445566778899aabbccddeeff"},
  };
  for (const Case& c : cases) {
    SetUp();
    ASSERT_EQ(Run(kEdit, "signal=KILL@5").status, 128 + SIGKILL);
    const Bytes there = c.fru(ReadFileBytes(Fru()));
    WriteFileBytes(Fru(), there);
    CliResult listing = Run({"ID=0"}, c.faults);
    SCOPED_TRACE(std::string(c.name) + "\n" + listing.output);
    EXPECT_EQ(listing.status, 0);
    EXPECT_NE(listing.output.find("FRU data read from BMC: ID=0\nThe journal entry of an interrupted run does not "
                                  "match this FRU: set aside as " + Journal() + "/"),
              std::string::npos);
    EXPECT_NE(listing.output.find(".entry; the FRU is left alone\n"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(Fru()), there);
    EXPECT_TRUE(Entries().empty());
    EXPECT_EQ(Entries(true).size(), 1u);
    CliResult again = Run({"ID=0"}, c.faults);
    EXPECT_EQ(again.output.find("journal entry"), std::string::npos);  // said once, not at every run
    for (const std::string& kept : Entries(true)) fs::remove(kept);
  }
}

TEST_F(Interruption, AnEntryChangedSinceItWasWrittenIsNeverWrittenBack) {
  ASSERT_EQ(Run(kEdit, "signal=KILL@5").status, 128 + SIGKILL);
  const Bytes torn = ReadFileBytes(Fru());
  ASSERT_EQ(Entries().size(), 1u);
  std::string text;
  {
    std::ifstream in(Entries()[0]);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const size_t original = text.find("\noriginal 01");
  ASSERT_NE(original, std::string::npos);
  text[original + 11] = '5';  // one digit of the header's first byte, as a failing disk or a hand might change it
  std::ofstream(Entries()[0]) << text;
  CliResult listing = Run({"ID=0"});
  EXPECT_NE(listing.output.find("FRU data read from BMC: ID=0\nThe journal entry of an interrupted run cannot be "
                                "read: set aside as "),
            std::string::npos)
      << listing.output;
  EXPECT_EQ(ReadFileBytes(Fru()), torn);
}

TEST_F(Interruption, AWriteWithoutAJournalFolderIsRefusedBeforeAnythingIsSent) {
  struct Case {
    std::vector<std::string> args;
    const char* journal;
    int status;
    std::string ending;
    const char* errors;
  };
  const Case cases[] = {
      {kEdit, "", 1, "[ERROR] No journal folder: set TAGFORGE_JOURNAL, or TAGFORGE_JOURNAL=off\nReturn code = 1.\n", ""},
      {kClear, "", 1, "[ERROR] No journal folder: set TAGFORGE_JOURNAL, or TAGFORGE_JOURNAL=off\nReturn code = 1.\n", ""},
      {{"ID=0"}, "", 0, "", ""},
      {kEdit, "off", 0, "done.\n", "tagforge: TAGFORGE_JOURNAL=off: a run killed mid-write leaves its FRU torn\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    CliResult r = Run(c.args, "", {{"TAGFORGE_JOURNAL", c.journal}});
    SCOPED_TRACE(c.args.back() + " with TAGFORGE_JOURNAL=" + c.journal + "\n" + r.output);
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(EndsWith(r.output, c.ending));
    EXPECT_EQ(r.errors.substr(0, r.errors.find("sim: ")), c.errors);
    if (c.status != 0) {
      EXPECT_NE(r.errors.find(" requests=0 "), std::string::npos) << r.errors;
    }
  }
}

}  // namespace
