// Every fault the simulated BMC can show, at every point of an edit: the run
// ends in bounded time with the right text and status, and the FRU holds
// either what it held or exactly the new image (or the run says plainly that
// it could not put the old data back).
#include <gtest/gtest.h>

#include "cli_harness.h"
#include "fru_bytes.h"

namespace {

const Bytes kDate{0x00, 0x20, 0x57, 0xE2};

// The board area ends the image, behind a MultiRecord Area whose bytes vary;
// the edit moves the board area first, so every chunk of the image changes and
// is written: identity, size, 7 reads, the Device GUID for the journal, 7
// writes, 7 reads back.
Bytes Fru(const std::string& serial, size_t multiRecordUnits) {
  const Bytes board = InfoArea({kDate, Text("Acme"), Text(""), Text(serial), Text(""), {0x00}});
  const int boardUnit = static_cast<int>(1 + multiRecordUnits);
  return Image(8 + multiRecordUnits * 8 + board.size(), {0, 0, boardUnit, 0, 1},
               {{1, MultiRecords(multiRecordUnits * 8, 0x5A, 7)}, {boardUnit, board}});
}

// The image the edit writes: the board area first.
Bytes Edited(const std::string& serial, size_t multiRecordUnits) {
  const Bytes board = InfoArea({kDate, Text("Acme"), Text(""), Text(serial), Text(""), {0x00}});
  const int recordsUnit = static_cast<int>(1 + board.size() / 8);
  return Image(8 + multiRecordUnits * 8 + board.size(), {0, 0, 1, 0, recordsUnit},
               {{1, board}, {recordsUnit, MultiRecords(multiRecordUnits * 8, 0x5A, 7)}});
}

struct Outcome {
  CliResult result;
  Bytes fru;
  uint64_t virtualUs;
};

Outcome RunOn(const Bytes& before, const std::string& faults, const std::vector<std::string>& args) {
  TempDir dir;
  WriteFileBytes(dir.File("fru.bin"), before);
  CliRun run{args,
             {{"TAGFORGE_BMC", "sim:" + dir.File("fru.bin")}, {"TAGFORGE_SIM_STATS", "1"},
              {"TAGFORGE_SIM_FAULTS", faults}, {"TAGFORGE_SIM_LATENCY", "ibf=2-20,response=1000-5000,port=1"}},
             "", dir.path()};
  CliResult r = RunTagforge(run);
  size_t at = r.errors.find("virtual_us=");
  uint64_t virtualUs = at == std::string::npos ? UINT64_MAX : std::stoull(r.errors.substr(at + 11));
  return Outcome{r, ReadFileBytes(dir.File("fru.bin")), virtualUs};
}

Outcome Edit(const Bytes& before, const std::string& faults, const std::string& serial) {
  return RunOn(before, faults, {"ID=0", "BSN=" + serial});
}

enum class Point { Identity, Size, FirstRead, MiddleRead, LastRead, Guid, FirstWrite, MiddleWrite, LastWrite };

struct PointInfo {
  Point point;
  const char* name;
  int request;  // its request number in the run
};

// 216 bytes: identity, size, 7 reads (3..9), the GUID (10), 7 writes (11..17), then 7 reads back.
const PointInfo kPoints[] = {
    {Point::Identity, "identity", 1},    {Point::Size, "size", 2},
    {Point::FirstRead, "first read", 3}, {Point::MiddleRead, "middle read", 6},
    {Point::LastRead, "last read", 9},   {Point::Guid, "device GUID", 10},
    {Point::FirstWrite, "first write", 11}, {Point::MiddleWrite, "middle write", 14},
    {Point::LastWrite, "last write", 17},
};

struct Fault {
  const char* name;
  std::string (*text)(int request);  // the fault text for a point
  bool transient;                    // one failure that a retry gets past
};

const Fault kFaults[] = {
    {"no answer from here on", [](int r) { return "dead-after=" + std::to_string(r - 1); }, false},
    {"busy from here on", [](int r) { return "cc=0xC0@any#" + std::to_string(r) + "+"; }, false},
    {"request too long from here on", [](int r) { return "cc=0xC7@any#" + std::to_string(r) + "+"; }, false},
    {"not present from here on", [](int r) { return "cc=0xCB@any#" + std::to_string(r) + "+"; }, false},
    {"unspecified from here on", [](int r) { return "cc=0xFF@any#" + std::to_string(r) + "+"; }, false},
    {"port reads fail from here on", [](int r) { return "port-fail=read@" + std::to_string(r); }, false},
    {"port writes fail from here on", [](int r) { return "port-fail=write@" + std::to_string(r); }, false},
    {"busy once", [](int r) { return "cc=0xC0@any#" + std::to_string(r); }, true},
    {"unspecified once", [](int r) { return "cc=0xFF@any#" + std::to_string(r); }, true},
};

// Faults that do not depend on the point.
const std::pair<const char*, bool> kWholeRunFaults[] = {
    {"absent", false},         {"ibf-stuck", false}, {"mfg=343", false},       {"state=error", true},
    {"state=write", true},     {"short-read=10", true}, {"max-chunk=16", true}, {"busy=3", true},
};

std::string ExpectedEnding(Point point) {
  switch (point) {
    case Point::Identity: return "Return code = 1.\n";
    // The line after it names the cause, which differs by fault (AFailedSizeRequestNamesItsCause).
    case Point::Size: return "[ERROR] Get FRU size error\n[ERROR] ";
    case Point::FirstRead:
    case Point::MiddleRead:
    case Point::LastRead: return "[ERROR] Read FRU error\nReturn code = 1.\n";
    default: return "error.\n";
  }
}

constexpr uint64_t kVirtualLimitUs = 20ull * 60 * 1000 * 1000;  // generous: every wait is bounded

TEST(FaultMatrix, EveryFaultAtEveryPointEndsSafely) {
  const Bytes before = Fru("SN-OLD1", 23);
  const Bytes after = Edited("SN-NEW1", 23);
  ASSERT_EQ(before.size(), 216u);
  size_t cells = 0;
  for (const Fault& fault : kFaults) {
    for (const PointInfo& p : kPoints) {
      const std::string text = fault.text(p.request);
      Outcome o = Edit(before, text, "SN-NEW1");
      SCOPED_TRACE(std::string(fault.name) + " at " + p.name + " (" + text + ")\n" + o.result.output);
      ++cells;
      EXPECT_LE(o.virtualUs, kVirtualLimitUs);
      // A one-off failure is retried everywhere but at the size request, which is asked once.
      // The GUID is asked once too, but a BMC without one is still written (its journal entry
      // says so); one that stops answering there fails at the first write with nothing stored.
      const bool succeeds = fault.transient && p.point != Point::Size;
      if (p.point == Point::Guid && !fault.transient) {
        EXPECT_EQ(o.result.status, 1);
        EXPECT_EQ(o.fru, before);
        continue;
      }
      if (succeeds) {
        EXPECT_EQ(o.result.status, 0);
        EXPECT_TRUE(EndsWith(o.result.output, "done.\n"));
        EXPECT_EQ(o.fru, after);
        continue;
      }
      EXPECT_EQ(o.result.status, 1);
      if (p.point == Point::Size) {
        EXPECT_NE(o.result.output.find(ExpectedEnding(p.point)), std::string::npos);
        EXPECT_TRUE(EndsWith(o.result.output, "\nReturn code = 1.\n"));
      } else {
        EXPECT_TRUE(EndsWith(o.result.output, ExpectedEnding(p.point)));
      }
      const bool saysNotRestored = o.result.output.find("could not be restored") != std::string::npos;
      if (!saysNotRestored) {
        EXPECT_EQ(o.fru, before);
      }
      if (p.point < Point::FirstWrite) {
        EXPECT_FALSE(saysNotRestored);
      }
    }
  }
  for (const auto& [text, succeeds] : kWholeRunFaults) {
    Outcome o = Edit(before, text, "SN-NEW1");
    SCOPED_TRACE(std::string(text) + "\n" + o.result.output);
    ++cells;
    EXPECT_LE(o.virtualUs, kVirtualLimitUs);
    EXPECT_EQ(o.result.status, succeeds ? 0 : 1);
    EXPECT_EQ(o.fru, succeeds ? after : before);
  }
  printf("fault matrix: %zu faults x %zu points + %zu whole-run faults = %zu cells\n", std::size(kFaults),
         std::size(kPoints), std::size(kWholeRunFaults), cells);
}

TEST(FaultMatrix, AWriteInterruptedAtAnyChunkIsUndoneWhenTheBmcAnswersAgain) {
  // 2048 bytes: 64 write chunks. The board area stands last and the edit moves
  // it first, so every chunk of the new image differs from the old. The chunk
  // after the k-th accepted one fails all its attempts; then the BMC answers again.
  const Bytes board = InfoArea({kDate, Text("Acme"), Text(""), Text("SN-OLD1"), Text(""), {0x00}});
  const Bytes before = Image(2048, {0, 0, 253, 0, 1}, {{1, MultiRecords(2048 - 8 - 24, 0x5A, 7)}, {253, board}});
  ASSERT_EQ(before.size(), 2048u);
  for (int k = 1; k <= 63; ++k) {
    const int failing = 2 + 64 + 1 + k + 1;  // identity, size, 64 reads, the GUID, k accepted writes
    Outcome o = Edit(before, "cc=0xD5@any#" + std::to_string(failing) + "-" + std::to_string(failing + 10), "SN-NEW1");
    SCOPED_TRACE("interrupted after " + std::to_string(k) + " chunks\n" + o.result.output);
    EXPECT_EQ(o.result.status, 1);
    EXPECT_TRUE(EndsWith(o.result.output, "[ERROR] The write failed; the FRU holds its original data again\nerror.\n"));
    EXPECT_EQ(o.fru, before);
  }
}

// Two faults in one run: a first one that makes the tool write a second time
// (a chunk answered 0 but not stored, or a read-back that fails), then a write
// that breaks off at chunk k of the first or the second pass. The line that
// says the original is back may only stand over the original, byte for byte.
TEST(FaultMatrix, TwoFaultsInOneRunNeverClaimARestoreThatDidNotHappen) {
  constexpr int kChunks = 8;  // 256 bytes
  const Bytes board = InfoArea({kDate, Text("Acme"), Text(""), Text("SN-OLD1"), Text(""), {0x00}});
  // The board area stands last and the edit moves it first: every chunk changes.
  const Bytes before = Image(256, {0, 0, 29, 0, 1}, {{1, MultiRecords(256 - 8 - 24, 0x5A, 7)}, {29, board}});
  ASSERT_EQ(before.size(), 256u);
  const auto range = [](const char* what, int first, int count) {
    return std::string(what) + "#" + std::to_string(first) + "-" + std::to_string(first + count - 1);
  };
  struct First {
    const char* name;
    std::string text;
    int write;  // the write request it falls on; 0 for a read-back
  };
  const First firsts[] = {
      {"first chunk not stored", "cc=0@write#1", 1},
      {"last chunk not stored", "cc=0@write#" + std::to_string(kChunks), kChunks},
      {"read-back fails at its first chunk", "cc=0xC0@" + range("read", kChunks + 1, 12), 0},
      {"read-back fails at its last chunk", "cc=0xC0@" + range("read", 2 * kChunks, 12), 0},
  };
  struct Break {
    int pass;
    int chunk;
  };
  const Break breaks[] = {{1, 1}, {1, kChunks / 2}, {1, kChunks}, {2, 1}, {2, 2}, {2, kChunks / 2}, {2, kChunks}};
  const std::vector<std::string> modes[] = {{"ID=0", "BSN=SN-NEW1"}, {"ID=0", "ClearFru=1"}};
  const std::string restored = "[ERROR] The write failed; the FRU holds its original data again\nerror.\n";
  const std::string notRestored =
      "[ERROR] The write failed and the FRU could not be restored: it may hold part of the new data\nerror.\n";
  int cells = 0;
  for (const auto& args : modes) {
    for (const First& first : firsts) {
      for (const Break& b : breaks) {
        const int write = (b.pass - 1) * kChunks + b.chunk;  // every attempt of it fails: 11 requests
        if (first.write >= write) continue;                   // the first fault has to come first
        const std::string faults = first.text + ",cc=0xC0@" + range("write", write, 11);
        Outcome o = RunOn(before, faults, args);
        SCOPED_TRACE(args[1] + ", " + first.name + ", pass " + std::to_string(b.pass) + " breaks at chunk " +
                     std::to_string(b.chunk) + " (" + faults + ")\n" + o.result.output);
        EXPECT_EQ(o.result.status, 1);
        if (EndsWith(o.result.output, restored)) {
          EXPECT_EQ(o.fru, before);
        } else {
          EXPECT_TRUE(EndsWith(o.result.output, notRestored));
        }
        ++cells;
        if (b.pass == 2) {
          // The first pass wrote the whole FRU: all of it is put back, and
          // the BMC answers again, so the restore holds.
          EXPECT_NE(o.result.output.find("Restore FRU data 256 bytes\n"), std::string::npos);
          EXPECT_TRUE(EndsWith(o.result.output, restored));
        }
      }
    }
  }
  printf("two-fault matrix: %d cells\n", cells);
}

}  // namespace

namespace {

// Edits that change places far apart (the chassis serial near the start, the
// product serial at the end), so their changed chunks form separate runs,
// against a BMC that answers one chunk as taken and stores nothing, once or on
// both passes: "done." only over the new image, byte for byte.
TEST(FaultMatrix, AChunkTheBmcDropsIsFoundWhereverTheChangedRunsLie) {
  int cells = 0;
  // The board area between them is as long as the gap; areas stand where the rebuild packs them.
  for (size_t gap : {24u, 60u, 120u}) {
    const auto image = [gap](const std::string& suffix) {
      const Bytes chassis = InfoArea({{0x17}, Text("CP-1"), Text("CS-" + suffix), Text("")});
      const Bytes board = InfoArea({{0x00, 0x20, 0x57, 0xE2}, Text(std::string(gap / 2, 'M')),
                                    Text(std::string(gap - gap / 2, 'N')), Text("SN-1"), Text(""), {0x00}});
      const Bytes product =
          InfoArea({{0x00}, Text("Acme"), Text("Box"), Text(""), Text(""), Text("PS-" + suffix), Text(""), Text("")});
      const int boardUnit = static_cast<int>(1 + chassis.size() / 8);
      const int productUnit = static_cast<int>(boardUnit + board.size() / 8);
      return Image(8 + chassis.size() + board.size() + product.size(), {0, 1, boardUnit, productUnit, 0},
                   {{1, chassis}, {boardUnit, board}, {productUnit, product}});
    };
    const size_t gapUnits = gap;
    const Bytes before = image("AAAA");
    const Bytes after = image("BBBB");
    const std::vector<std::string> edit = {"ID=0", "CSN=CS-BBBB", "PSN=PS-BBBB"};
    // The chunks that differ, and how many separate runs they form.
    int writes = 0;
    int runs = 0;
    for (size_t chunk = 0; chunk * 32 < before.size(); ++chunk) {
      const size_t end = std::min(before.size(), chunk * 32 + 32);
      const bool differs = !std::equal(before.begin() + chunk * 32, before.begin() + end, after.begin() + chunk * 32);
      const bool previous = chunk > 0 && !std::equal(before.begin() + (chunk - 1) * 32, before.begin() + chunk * 32,
                                                     after.begin() + (chunk - 1) * 32);
      writes += differs ? 1 : 0;
      runs += differs && !previous ? 1 : 0;
    }
    ASSERT_GE(runs, 2) << gapUnits;
    const Outcome clean = RunOn(before, "", edit);
    ASSERT_EQ(clean.fru, after) << "the edit writes the image built by hand\n" << clean.result.output;
    for (int k = 1; k <= writes; ++k) {
      for (bool twice : {false, true}) {
        // Pass two writes the same chunks again: the k-th of them is the same chunk.
        const std::string drop = "drop=write#" + std::to_string(k) + (twice ? ",drop=write#" + std::to_string(k + writes) : "");
        Outcome o = RunOn(before, drop, edit);
        SCOPED_TRACE(std::to_string(gapUnits) + " units apart, " + drop + "\n" + o.result.output);
        ++cells;
        EXPECT_EQ(o.result.status == 0, o.fru == after);
        if (twice) {
          EXPECT_EQ(o.result.status, 1);
          EXPECT_TRUE(EndsWith(o.result.output, "[ERROR] The FRU may now hold a mix of old and new data\nerror.\n"));
        } else {
          EXPECT_TRUE(EndsWith(o.result.output, "done.\n"));
        }
      }
    }
  }
  printf("dropped-chunk matrix: %d cells\n", cells);
}

}  // namespace
