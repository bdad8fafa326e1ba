// A FRU that a write left half done with no journal entry to undo it (the
// firmware, TAGFORGE_JOURNAL=off, another tool, a BMC that reset): rewrites
// that move the areas, killed after each of their changed chunks but the
// last. Every state FreeIPMI rejects is refused by the next edit with nothing
// written, and its listing says that something is wrong.
#include <gtest/gtest.h>

#include <signal.h>

#include "cli_harness.h"
#include "fru_bytes.h"
#include "ipmi_fru_peer.h"

namespace {

constexpr size_t kChunk = 32;

// Chassis, board and product areas, then a MultiRecord Area whose data bytes
// vary, so that a few bytes' move changes every chunk it passes.
Bytes Before(size_t size) {
  const Bytes date{0x00, 0x20, 0x57, 0xE2};
  return Image(size, {0, 1, 4, 9, 14},
               {{1, InfoArea({{0x17}, Text("CPN-1"), Text("CSN-0001")})},
                {4, InfoArea({date, Text("Acme"), Text("Board"), Text("BSN-0001"), Text("BPN-1"), {0x00}})},
                {9, InfoArea({{0x00}, Text("Acme"), Text("Box"), Text("PPM"), Text("1.0"), Text("PSN-0001"), Text(""),
                              {0x00}})},
                {14, MultiRecords(size - 112 - 64, 0x21, 7)}});
}

int ChangedChunks(const Bytes& a, const Bytes& b) {
  int changed = 0;
  for (size_t at = 0; at < a.size(); at += kChunk) {
    if (!std::equal(a.begin() + static_cast<long>(at), a.begin() + static_cast<long>(std::min(at + kChunk, a.size())),
                    b.begin() + static_cast<long>(at))) {
      ++changed;
    }
  }
  return changed;
}

class TornFru : public ::testing::Test {
 protected:
  CliResult Run(std::vector<std::string> args, const std::string& faults = "") {
    std::map<std::string, std::string> env{{"TAGFORGE_BMC", "sim:" + Fru()}, {"TAGFORGE_JOURNAL", "off"}};
    if (!faults.empty()) env.emplace("TAGFORGE_SIM_FAULTS", faults);
    return RunTagforge(CliRun{std::move(args), env, "", dir_.path()});
  }
  std::string Fru() const { return dir_.File("fru.bin"); }
  TempDir dir_;
};

TEST_F(TornFru, EveryStateFreeIpmiRejectsIsRefusedByTheNextEditAndFlaggedByTheListing) {
  struct Rewrite {
    size_t size;
    std::vector<std::string> edit;
  };
  const Rewrite rewrites[] = {
      {512, {"ID=0", "BMF=Acme Industrial Corporation of Example"}},
      {1024, {"ID=0", "PPN=Example Server 2U Rack Mount Edition"}},
      {2048, {"ID=0", "BMF=Acme Industrial Corporation", "PPN=Example Server 2U"}},
      {2048, {"ID=0", "CSN=CSN-0001-LONGER-SERIAL-NUMBER"}},
  };
  int states = 0, rejected = 0;
  for (const Rewrite& rewrite : rewrites) {
    const Bytes before = Before(rewrite.size);
    WriteFileBytes(Fru(), before);
    CliResult whole = Run(rewrite.edit);
    ASSERT_EQ(whole.status, 0) << whole.output;
    const Bytes after = ReadFileBytes(Fru());
    const int chunks = ChangedChunks(before, after);
    for (int k = 1; k < chunks; ++k) {
      WriteFileBytes(Fru(), before);
      CliResult killed = Run(rewrite.edit, "signal=KILL@" + std::to_string(k));
      ASSERT_EQ(killed.status, 128 + SIGKILL) << killed.output;
      const Bytes torn = ReadFileBytes(Fru());
      ++states;
      const std::string decoded = DecodeWithIpmiFru(torn);
      if (!IpmiFruRejects(decoded)) continue;
      ++rejected;
      SCOPED_TRACE(rewrite.edit[1] + " on " + std::to_string(rewrite.size) + " bytes, killed after chunk " +
                   std::to_string(k) + "\n" + decoded);
      CliResult next = Run({"ID=0", "BSN=BSN-0002"});
      EXPECT_EQ(next.status, 1) << next.output;
      EXPECT_NE(next.output.find("\n[ERROR] The FRU would not be valid: "), std::string::npos) << next.output;
      EXPECT_TRUE(EndsWith(next.output, "error.\n")) << next.output;
      EXPECT_EQ(next.output.find("Write FRU data"), std::string::npos) << next.output;
      EXPECT_EQ(ReadFileBytes(Fru()), torn) << "nothing is written";
      CliResult listing = Run({"ID=0"});
      EXPECT_EQ(listing.status, 0);
      EXPECT_NE(listing.output.find("\n[WARN] "), std::string::npos) << listing.output;
    }
  }
  EXPECT_GT(rejected, 30);
  printf("torn FRUs: %d states, %d rejected by ipmi-fru, each refused by the next edit and flagged by its listing\n",
         states, rejected);
}

}  // namespace
