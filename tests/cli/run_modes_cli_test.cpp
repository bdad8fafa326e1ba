// --check, --verify and --dry-run against the simulated BMC: what they print,
// their status, and that none of them ever writes the FRU or the journal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli_harness.h"
#include "fru_bytes.h"

namespace fs = std::filesystem;

namespace {

Bytes Fru(const Bytes& product = InfoArea({{0x00}, Text("Acme"), Text("Box"), Text(""), Text(""), Text(""), Text(""), {0x00}})) {
  const Bytes chassis = InfoArea({{0x17}, Text(""), Text("CS-1"), Text("")});
  const Bytes board = InfoArea({{0x00, 0x20, 0x57, 0xE2}, Text("Acme"), Text(""), Text("SN-OLD"), Text(""), {0x00}});
  return Image(128, {0, 1, 3, product.empty() ? 0 : 6, 0}, {{1, chassis}, {3, board}, {6, product}});
}
Bytes WithoutProduct() { return Fru({}); }
Bytes Damaged() {
  Bytes fru = Fru();
  fru[6 * 8 + 5] ^= 0x20;  // a letter of the product manufacturer: the area's checksum no longer holds
  return fru;
}
Bytes Blank() { return Bytes(128, 0xFF); }

const std::string kRead = "BMC Revision = 1.25.0\nInventory FRU Size = 128 Bytes\nFRU data read from BMC: ID=0\n";
const std::string kListing =
    "              Chassis Type: 23\n     Chassis Serial Number: \"CS-1\" (4 bytes)\n"
    "            Mfg. Date/Time: 2024/3/15 (0x20 0x57 0xe2)\n        Board Manufacturer: \"Acme\" (4 bytes)\n"
    "       Board Serial Number: \"SN-OLD\" (6 bytes)\n      Product Manufacturer: \"Acme\" (4 bytes)\n"
    "              Product Name: \"Box\" (3 bytes)\n";
const std::string kNoPsn = "[WARN] Product Info Area: serial number is empty (Product Serial Number)\n";

class RunModes : public ::testing::Test {
 protected:
  CliResult Run(std::vector<std::string> args, const std::string& input = "",
                std::map<std::string, std::string> env = {}) {
    env.emplace("TAGFORGE_BMC", "sim:" + dir_.File("fru.bin"));
    env.emplace("TAGFORGE_SIM_STATS", "1");
    env.emplace("TAGFORGE_JOURNAL", dir_.File("journal"));
    return RunTagforge(CliRun{std::move(args), env, input, dir_.path()});
  }
  // Write FRU Data requests the simulated BMC received (-1: it was never opened).
  static int FruWrites(const CliResult& r) {
    const size_t at = r.errors.find("fru_writes=");
    return at == std::string::npos ? -1 : std::stoi(r.errors.substr(at + 11));
  }
  std::vector<std::string> JournalFiles() const {
    std::vector<std::string> files;
    if (fs::exists(dir_.File("journal"))) {
      for (const auto& f : fs::directory_iterator(dir_.File("journal"))) files.push_back(f.path().filename());
    }
    return files;
  }
  // Whatever the run, nothing reached the FRU or the journal.
  void ExpectNothingWritten(const CliResult& r, const Bytes& before) {
    EXPECT_EQ(FruWrites(r), 0) << r.errors;
    EXPECT_EQ(ReadFileBytes(dir_.File("fru.bin")), before);
    EXPECT_TRUE(JournalFiles().empty());
  }
  TempDir dir_;
};

// The lines after the dump of the new image (or of the listing's image).
std::string AfterLastDumpRow(const std::string& output) {
  std::istringstream in(output);
  std::string tail;
  for (std::string line; std::getline(in, line);) {
    const bool row = line.size() > 4 && isxdigit(static_cast<unsigned char>(line[0])) && line.find('\t') != std::string::npos &&
                     line.find(' ') == line.find_first_not_of("0123456789ABCDEF");
    tail = row ? "" : tail + line + "\n";
  }
  return tail;
}

TEST_F(RunModes, AVerifyComparesTypeAndBytesAndNeverWrites) {
  struct Case {
    std::vector<std::string> args;
    Bytes fru;
    std::string input;
    std::string after;  // the text after the read lines
    int status;
  };
  const Case cases[] = {
      {{"--verify", "ID=0", "BSN=SN-OLD", "CTY=23", "PSN="}, Fru(), "",
       "              Chassis Type: ok\n       Board Serial Number: ok\n     Product Serial Number: ok\n" + kNoPsn +
           "verified.\n",
       0},
      {{"--VeRiFy", "ID=0", "BSN=SN-NEW", "CTY=17"}, Fru(), "",
       "[ERROR] Chassis Type: the FRU holds 23, expected 17\n"
       "[ERROR] Board Serial Number: the FRU holds \"SN-OLD\" (6 bytes), expected \"SN-NEW\" (6 bytes)\n" +
           kNoPsn + "mismatch.\n",
       1},
      {{"--verify", "ID=0", "BSN="}, Fru(), "",
       "[ERROR] Board Serial Number: the FRU holds \"SN-OLD\" (6 bytes), expected nothing\n" + kNoPsn + "mismatch.\n", 1},
      {{"--verify", "ID=0", "CSN=0x00,0x43 0x53 0x2D 0x31"}, Fru(), "",
       "[ERROR] Chassis Serial Number: the FRU holds \"CS-1\" (4 bytes), expected 43 53 2d 31  (4 bytes)\n" + kNoPsn +
           "mismatch.\n",
       1},
      {{"--verify", "ID=0", "BDT", "BSN"}, Fru(), "SN-OLD\n",
       "            Mfg. Date/Time: ok\n       Board Serial Number: ok\n" + kNoPsn + "verified.\n", 0},
      {{"--verify", "ID=0", "PPN=Box"}, WithoutProduct(), "",
       "[ERROR] Product Name: the FRU holds no Product Info Area, expected \"Box\" (3 bytes)\nmismatch.\n", 1},
      {{"--verify", "ID=0", "ClearFru=1"}, Fru(), "",
       "[ERROR] Blank FRU: the FRU holds 0x01 at offset 0x0, expected all 0x00 or all 0xFF\nmismatch.\n", 1},
      {{"--verify", "ID=0", "ClearFru=1"}, Blank(), "", "                 Blank FRU: ok\nverified.\n", 0},
      {{"--verify", "ID=0", "ClearFru=0"}, Fru(), "",
       "[ERROR] Nothing to verify: give the fields the FRU should hold, or ClearFru=1\n" + kNoPsn + "mismatch.\n", 1},
      {{"--verify", "ID=0", "BSN=SN-OLD"}, Damaged(), "",
       "       Board Serial Number: ok\n[ERROR] Product Info Area: checksum invalid\n" + kNoPsn + "mismatch.\n", 1},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir_.File("fru.bin"), c.fru);
    CliResult r = Run(c.args, c.input);
    SCOPED_TRACE(c.args[2] + "\n" + r.output);
    const size_t read = r.output.find(kRead);
    ASSERT_NE(read, std::string::npos);
    EXPECT_EQ(r.output.substr(read + kRead.size()), c.after);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.output.find("Read Fru 0"), std::string::npos);  // -v is not inside --verify
    ExpectNothingWritten(r, c.fru);
  }
}

// A field the run could not take a value for (no board name in SMBIOS) is a
// mismatch of its own, never left out of the comparison.
TEST_F(RunModes, AFieldThatGotNoValueIsAMismatch) {
  WriteFileBytes(dir_.File("fru.bin"), Fru());
  CliResult r = Run({"--verify", "ID=0", "BPN"}, "", {{"TAGFORGE_SMBIOS", dir_.File("no-smbios")}});
  const size_t read = r.output.find(kRead);
  ASSERT_NE(read, std::string::npos) << r.output;
  const std::string after = r.output.substr(read + kRead.size());
  EXPECT_EQ(after.rfind("[ERROR] Board Product Name: the FRU holds ", 0), 0u) << after;
  EXPECT_NE(after.find(", expected (no value taken)\n"), std::string::npos) << after;
  EXPECT_EQ(after.substr(after.size() - 10), "mismatch.\n");
  EXPECT_EQ(r.status, 1);
  ExpectNothingWritten(r, Fru());
}

TEST_F(RunModes, ADryRunShowsWhatWouldChangeAndNeverWrites) {
  struct Case {
    std::vector<std::string> args;
    std::string tail;  // after the dump
    int status;
  };
  const Case cases[] = {
      {{"--dry-run", "ID=0", "BSN=SN-NEW"},
       kNoPsn + "Board Serial Number: \"SN-OLD\" (6 bytes) -> \"SN-NEW\" (6 bytes)\n"
                "Would write 32 bytes in 1 chunks of the 128-byte inventory\ndry run: nothing written.\n",
       0},
      {{"--dry-run", "ID=0", "BSN=SN-OLD"},
       kNoPsn + "Would write 0 bytes in 0 chunks of the 128-byte inventory\ndry run: nothing written.\n", 0},
      // The new image is 80 bytes: the write sends those only.
      {{"--dry-run", "ID=0", "CSN=", "BSN=SN-LONGER-THAN-BEFORE"},
       "[WARN] Chassis Info Area: serial number is empty (Chassis Serial Number)\n" + kNoPsn +
           "Chassis Serial Number: \"CS-1\" (4 bytes) -> nothing\n"
           "Board Serial Number: \"SN-OLD\" (6 bytes) -> \"SN-LONGER-THAN-BEFORE\" (21 bytes)\n"
           "Would write 80 bytes in 3 chunks of the 128-byte inventory\ndry run: nothing written.\n",
       0},
      {{"--dry-run", "ID=0", "PPN=" + std::string(63, 'x'), "PMF=" + std::string(40, 'y')},
       "[ERROR] New size is over FRU's capacity: new size=168, capacity=128\nerror.\ndry run: nothing written.\n", 1},
      {{"--dry-run", "ID=0", "ClearFru=1"},
       kListing + kNoPsn +
           "Chassis Type: 23 -> nothing\nChassis Serial Number: \"CS-1\" (4 bytes) -> nothing\n"
           "Mfg. Date/Time: 2024/3/15 (0x20 0x57 0xe2) -> nothing\nBoard Manufacturer: \"Acme\" (4 bytes) -> nothing\n"
           "Board Serial Number: \"SN-OLD\" (6 bytes) -> nothing\nProduct Manufacturer: \"Acme\" (4 bytes) -> nothing\n"
           "Product Name: \"Box\" (3 bytes) -> nothing\n"
           // Bytes 0 to 71 hold the areas: the three chunks that hold them are not zero already.
           "Would write 96 bytes in 3 chunks of the 128-byte inventory\ndry run: nothing written.\n",
       0},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir_.File("fru.bin"), Fru());
    CliResult r = Run(c.args);
    SCOPED_TRACE(c.args[2] + "\n" + r.output);
    EXPECT_EQ(AfterLastDumpRow(r.output), c.tail);
    EXPECT_EQ(r.status, c.status);
    ExpectNothingWritten(r, Fru());
  }
}

// A run killed mid-write leaves its entry: a verify or a dry run keeps it and
// the FRU as it is, for a listing or an edit to repair.
TEST_F(RunModes, AJournalEntryIsKeptAndTheRunFails) {
  WriteFileBytes(dir_.File("fru.bin"), Fru());
  ASSERT_EQ(Run({"ID=0", "BMF=Acme Industrial Corporation"}, "", {{"TAGFORGE_SIM_FAULTS", "signal=KILL@1"}}).status, 137);
  const Bytes torn = ReadFileBytes(dir_.File("fru.bin"));
  const std::vector<std::string> entry = JournalFiles();
  ASSERT_EQ(entry.size(), 1u);
  const std::string line = "[ERROR] An interrupted run left a journal entry for this FRU: a listing or an edit will "
                           "repair the FRU first; nothing was written\n";
  for (const auto& [mode, end] : {std::pair{"--verify", "Return code = 1.\n"}, {"--dry-run", "dry run: nothing written.\n"}}) {
    CliResult r = Run({mode, "ID=0", "BSN=SN-OLD"});
    EXPECT_TRUE(EndsWith(r.output, kRead + line + end)) << r.output;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(FruWrites(r), 0);
    EXPECT_EQ(ReadFileBytes(dir_.File("fru.bin")), torn);
    EXPECT_EQ(JournalFiles(), entry);
  }
}

TEST_F(RunModes, ACheckStopsBeforeTheBmcAndNeverOpensIt) {
  struct Case {
    std::vector<std::string> args;
    std::string output;  // after the banner
    int status;
  };
  const Case cases[] = {
      {{"--check", "ID=0", "BSN=SN-1"}, "       Board Serial Number: \"SN-1\" (4 bytes)\ncheck passed.\n", 0},
      {{"ID=0", "--CHECK"}, "check passed.\n", 0},
      {{"--check", "ID=0", "BSN"},
       "[ERROR] BSN without a value asks the bar-code scanner, which a check does not: give BSN=VALUE\n"
       "Return code = 1.\n",
       1},
      {{"--check", "ID=0", "BVR=A"},
       "              Board Extra0: \"A\" (1 bytes)\n[ERROR] BEX0: a one-character text field cannot be stored (its "
       "type/length byte would be 0xC1, the end-of-fields marker)\nReturn code = 1.\n",
       1},
      {{"--check", "ID=0", "ClearFru=no"}, "[ERROR] Unsupported parameter: ClearFru=no\n", 1},
      {{"--check", "BSN=12"}, "       Board Serial Number: \"12\" (2 bytes)\n[ERROR] FRU ID is not set\nReturn code = 1.\n", 1},
      {{"--check", "--verify", "ID=0"}, "[ERROR] --check and --verify cannot be used together\n", 1},
      {{"--dry-run", "ID=0", "--check"}, "[ERROR] --check and --dry-run cannot be used together\n", 1},
      {{"--dry-run", "--verify", "--check"}, "[ERROR] --verify and --dry-run cannot be used together\n", 1},
  };
  for (const Case& c : cases) {
    // No BMC at all, or a setting that no run could use: a check never looks.
    for (const char* bmc : {"", "bogus"}) {
      CliResult r = RunTagforge(CliRun{c.args, bmc[0] == '\0' ? std::map<std::string, std::string>{}
                                                              : std::map<std::string, std::string>{{"TAGFORGE_BMC", bmc}},
                                       "SN-1\nSN-1\n", dir_.path()});
      SCOPED_TRACE(c.args[1] + " " + bmc);
      EXPECT_EQ(r.output, kBanner + c.output);
      EXPECT_EQ(r.errors, "");
      EXPECT_EQ(r.status, c.status);
    }
  }
  EXPECT_TRUE(fs::is_empty(dir_.path()));  // no sample FRU made, no journal folder
}

TEST_F(RunModes, TheOptionsAreIgnoredInAParameterFile) {
  WriteFileBytes(dir_.File("fru.bin"), Fru());
  std::ofstream(dir_.File("batch.txt")) << "--dry-run\nBSN=SN-NEW\n";
  CliResult r = Run({"ID=0", "FILE=batch.txt"}, "", {{"TAGFORGE_VOLUME", dir_.path()}});
  EXPECT_TRUE(r.output.rfind(kBanner + "Ignored in a parameter file: --dry-run\n", 0) == 0) << r.output;
  EXPECT_TRUE(EndsWith(r.output, "done.\n"));
  EXPECT_GT(FruWrites(r), 0);
}

}  // namespace
