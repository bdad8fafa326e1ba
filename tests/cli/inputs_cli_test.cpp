// Operator inputs end to end: scanner, parameter file, clock and SMBIOS.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_harness.h"
#include "fru_bytes.h"
#include "smbios_bytes.h"

namespace {

const Bytes kDate{0x00, 0x00, 0x00, 0x00};

Bytes EmptyBoardFru(size_t size) {
  return Image(size, {0, 0, 1, 0, 0}, {{1, InfoArea({kDate, Text(""), Text(""), Text(""), Text(""), {0x00}})}});
}

class InputsCli : public ::testing::Test {
 protected:
  void SetUp() override { WriteFileBytes(fruPath_, EmptyBoardFru(128)); }

  CliResult Run(std::vector<std::string> args, const std::string& input = "",
                std::map<std::string, std::string> env = {}) {
    env.emplace("TAGFORGE_BMC", "sim:" + fruPath_);
    env.emplace("TAGFORGE_SIM_STATS", "1");
    env.emplace("TAGFORGE_VOLUME", dir_.path());
    return RunTagforge(CliRun{std::move(args), env, input, dir_.path()});
  }
  void WriteVolumeFile(const std::string& name, const std::string& content) {
    WriteFileBytes(dir_.File(name), Bytes(content.begin(), content.end()));
  }
  Bytes FruFile() const { return ReadFileBytes(fruPath_); }
  static Bytes BoardFru(const std::string& serial) {
    return Image(128, {0, 0, 1, 0, 0}, {{1, InfoArea({kDate, Text(""), Text(""), Text(serial), Text(""), {0x00}})}});
  }

  TempDir dir_;
  std::string fruPath_ = dir_.File("fru.bin");
};

TEST_F(InputsCli, ScansThatDisagreeWriteOnlyTheFieldsBeforeThemAndFail) {
  for (const char* typed : {"12345\n1234X\n", "123\n12345\n", "12345\n123\n", "12345\n"}) {
    SetUp();
    CliResult r = Run({"ID=0", "BSN", "CSN=C1", "PSN=P1"}, typed);
    EXPECT_NE(r.output.find("[ERROR] Input data are not matched\nBMC Revision"), std::string::npos) << typed;
    EXPECT_TRUE(EndsWith(r.output, "done.\n[ERROR] Board Serial Number was not written\n"
                                   "[ERROR] Product Serial Number was not written\nReturn code = 1.\n"))
        << typed << r.output;
    EXPECT_EQ(r.status, 1) << typed;
    // The chassis field came before the scan and is written; the product field after it is not.
    const Bytes expected = Image(128, {0, 1, 3, 0, 0},
                                 {{1, InfoArea({{0x01}, Text(""), Text("C1"), Text("")})},
                                  {3, InfoArea({kDate, Text(""), Text(""), Text(""), Text(""), {0x00}})}});
    EXPECT_EQ(FruFile(), expected) << typed;
  }
  SetUp();
  CliResult first = Run({"ID=0", "BSN", "ClearFru=1"}, "1\n2\n");
  EXPECT_TRUE(EndsWith(first.output, "[ERROR] No field has a value to write\nReturn code = 1.\n")) << first.output;
  EXPECT_EQ(first.status, 1);
  EXPECT_EQ(FruFile(), EmptyBoardFru(128));
}

TEST_F(InputsCli, PromptsComeInCatalogueOrderBeforeTheBmcIsAsked) {
  CliResult r = Run({"ID=0", "BSN", "PSN", "CSN"}, "c1 c1 b1 b1 p1 p1", {{"TAGFORGE_SIM_FAULTS", "absent"}});
  size_t c = r.output.find("Input  (Chassis Serial Number)");
  size_t b = r.output.find("Input  (Board Serial Number)");
  size_t p = r.output.find("Input  (Product Serial Number)");
  EXPECT_TRUE(c < b && b < p) << r.output;
  EXPECT_TRUE(EndsWith(r.output, "[ERROR] BMC is not accessible.\nReturn code = 1.\n"));
  EXPECT_EQ(r.status, 1);
}

TEST_F(InputsCli, AScanLongerThan63BytesIsRefused) {
  const std::string code(64, '7');
  CliResult r = Run({"ID=0", "BSN"}, code + "\n" + code + "\n");
  EXPECT_TRUE(EndsWith(r.output, "(64 bytes)\n[ERROR] Parameter size > 63 bytes\nReturn code = 1.\n"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FruFile(), EmptyBoardFru(128));
}

TEST_F(InputsCli, ParameterFileLinesAreTokensBehindTheCommandLine) {
  struct Case {
    const char* name;
    std::string content;
    std::vector<std::string> args;
    std::string serial;
  };
  const std::string bom("\xFF\xFE", 2);
  auto ucs2 = [](const std::string& narrow) {
    std::string wide;
    for (char c : narrow) {
      wide += c;
      wide += '\0';
    }
    return wide;
  };
  const Case cases[] = {
      {"lf", "ID=0\nBSN=123\n", {"FILE=fru.txt"}, "123"},
      {"crlf", "ID=0\r\nBSN=123\r\n", {"FILE=fru.txt"}, "123"},
      {"ucs2", bom + ucs2("ID=0\r\nBSN=W42\r\n"), {"file=fru.txt"}, "W42"},
      // "UTF-8 with BOM": the comment stays a comment, its "PSN=" is no field.
      {"utf-8 bom", "\xEF\xBB\xBF# batch 7, PSN=see label\r\nID=0\r\nBSN=U8\r\n", {"FILE=fru.txt"}, "U8"},
      {"blank lines", "\n\nID=0\n\n\nBSN=AB C\n", {"File=fru.txt"}, "AB C"},
      {"command line wins", "ID=0\nBSN=2x\n", {"BSN=1x", "FILE=fru.txt"}, "1x"},
      {"ignored lines", "ID=0\n-v\nClearFru=1\nFILE=other.txt\nBSN=Z9\n", {"FILE=fru.txt"}, "Z9"},
  };
  for (const Case& c : cases) {
    SetUp();
    WriteVolumeFile("fru.txt", c.content);
    CliResult r = Run(c.args);
    EXPECT_EQ(r.status, 0) << c.name << "\n" << r.output;
    EXPECT_TRUE(EndsWith(r.output, "done.\n")) << c.name;
    EXPECT_EQ(r.output.find("[KCS]"), std::string::npos) << c.name;  // -v in the file does nothing
    EXPECT_EQ(FruFile(), BoardFru(c.serial)) << c.name;
    EXPECT_FALSE(std::filesystem::exists(dir_.File("other.txt"))) << c.name;
    if (std::string(c.name) == "ignored lines") {
      EXPECT_NE(r.output.find("Ignored in a parameter file: -v\nIgnored in a parameter file: ClearFru=1\n"
                              "Ignored in a parameter file: FILE=other.txt\n"),
                std::string::npos)
          << r.output;
    }
  }
}

TEST_F(InputsCli, AParameterFileThatCannotBeUsedWholeIsRefused) {
  WriteVolumeFile("big.txt", "ID=0\nBSN=" + std::string(1990, 'x') + "\n");
  CliResult big = Run({"FILE=big.txt"});
  EXPECT_EQ(big.output, kBanner + "[ERROR] Parameter file big.txt is longer than 1024 bytes; no value of it is used\n"
                                  "Return code = 1.\n");
  EXPECT_EQ(big.status, 1);

  WriteVolumeFile("wide.txt", std::string("\xFF\xFEI\0D\0=\0" "0\0\x01\x04", 12));
  CliResult wide = Run({"FILE=wide.txt"});
  EXPECT_EQ(wide.output, kBanner + "[ERROR] Parameter file wide.txt holds UCS-2 text that is not 8-bit text\n"
                                   "Return code = 1.\n");
  EXPECT_EQ(FruFile(), EmptyBoardFru(128));
}

// A tool started from a stick finds the batch beside it; a copy on both
// volumes must be the same copy, byte for byte and length for length.
TEST_F(InputsCli, ACopyOnBothVolumesIsUsedOnlyWhenItIsTheSame) {
  const std::string batch = "BSN=SAME-1\n";
  struct Row {
    const char* name;
    const char* first;  // null: none on the first volume
    std::string tool;   // empty: none on the tool's volume
    std::string output;
    Bytes fru;
  };
  const std::string differs =
      "[ERROR] Parameter file b.txt differs between the first volume and the tool's volume\nReturn code = 1.\n";
  const Row rows[] = {
      {"the same on both", "BSN=SAME-1\n", batch, "", BoardFru("SAME-1")},
      {"only beside the tool", nullptr, batch, "Parameter file b.txt read from the tool's volume\n", BoardFru("SAME-1")},
      // The one on the tool's volume goes on past the other: the lines they share are no proof.
      {"the tool's copy is longer", "BSN=SAME-1\n", batch + "BPN=EXTRA\n", differs, EmptyBoardFru(128)},
      {"the first copy is longer", "BSN=SAME-1\nBPN=EXTRA\n", batch, differs, EmptyBoardFru(128)},
      {"one byte differs", "BSN=SAME-2\n", batch, differs, EmptyBoardFru(128)},
  };
  for (const Row& r : rows) {
    SetUp();
    TempDir tool;
    std::filesystem::remove(dir_.File("b.txt"));
    if (r.first != nullptr) WriteVolumeFile("b.txt", r.first);
    if (!r.tool.empty()) WriteFileBytes(tool.File("b.txt"), Bytes(r.tool.begin(), r.tool.end()));
    CliResult run = Run({"ID=0", "FILE=b.txt"}, "", {{"TAGFORGE_TOOL_VOLUME", tool.path()}});
    EXPECT_EQ(run.output.substr(0, kBanner.size() + r.output.size()), kBanner + r.output) << r.name;
    EXPECT_EQ(run.status, r.output == differs ? 1 : 0) << r.name << run.output;
    EXPECT_EQ(FruFile(), r.fru) << r.name;
  }
}

TEST_F(InputsCli, FileSystemFailuresPrintTheirMessages) {
  CliResult noVolume = Run({"ID=0", "FILE=x.txt"}, "", {{"TAGFORGE_VOLUME", dir_.File("missing")}});
  EXPECT_EQ(noVolume.output, kBanner + "Cannot find EFI_SIMPLE_FILE_SYSTEM_PROTOCOL \r\nReturn code = 1.\n");
  EXPECT_EQ(noVolume.status, 1);

  // A name that leaves the volume, names a folder or the root, or is empty.
  std::filesystem::create_directories(dir_.File("sub"));
  for (const char* file : {"FILE=../x.txt", "FILE=sub", "FILE=\\", "FILE="}) {
    CliResult refused = Run({"ID=0", file});
    EXPECT_EQ(refused.output, kBanner + "Open error \r\nReturn code = 1.\n") << file;
    EXPECT_EQ(refused.status, 1) << file;
  }
}

TEST_F(InputsCli, HelloOnTheCommandLineEndsTheRunBeforeTheFileIsRead) {
  CliResult r = Run({"FILE=never.txt", "HELLO"});
  EXPECT_EQ(r.output, kBanner + "[ERROR] Unsupported parameter: HELLO\n");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("never.txt")));
}

// SMBIOS tables, by default one baseboard structure naming the board "MB-7".
void WriteSmbios(const std::string& directory, const Bytes& table = SmbiosStructure(2, 0x0002, {1, 2}, {"Maker", "MB-7"}),
                 uint16_t count = 1) {
  std::filesystem::create_directories(directory);
  WriteFileBytes(directory + "/smbios_entry_point", SmbiosEntryPoint(static_cast<uint16_t>(table.size()), count));
  WriteFileBytes(directory + "/DMI", table);
}

TEST_F(InputsCli, AnEmptyFirstStringStillCountsAsAString) {
  // A system structure and then the baseboard, both with an empty first string.
  Bytes table = SmbiosStructure(1, 0x0001, {1, 2}, {"", "Sys"});
  const Bytes board = SmbiosStructure(2, 0x0002, {1, 2}, {"", "BRD"});
  table.insert(table.end(), board.begin(), board.end());
  WriteSmbios(dir_.File("smbios"), table, 2);
  CliResult r = Run({"ID=0", "BPN"}, "", {{"TAGFORGE_SMBIOS", dir_.File("smbios")}});
  EXPECT_EQ(r.output.substr(kBanner.size(), 85),
            "SMBIOS Ver: 2.8  Rev: 0  Table Count: 2\r\n"
            "        Board Product Name: \"BRD\" (3 bytes)\n");
  EXPECT_TRUE(EndsWith(r.output, "done.\n"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(FruFile(), Image(128, {0, 0, 1, 0, 0},
                             {{1, InfoArea({kDate, Text(""), Text("BRD"), Text(""), Text(""), {0x00}})}}));
}

TEST_F(InputsCli, ClockSmbiosAndScannerTogether) {
  WriteSmbios(dir_.File("smbios"));
  CliResult r = Run({"ID=0", "BDT", "BPN", "BSN"}, "SN0042\nSN0042\n",
                    {{"TAGFORGE_NOW", "2018-01-01T10:30"}, {"TAGFORGE_SMBIOS", dir_.File("smbios")}});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.substr(kBanner.size(), 119),
            "Mfg date/time: 2018/1/1\n"
            "            Mfg. Date/Time: 2018/1/1 (0xf6 0x94 0xb0)\n"
            "SMBIOS Ver: 2.8  Rev: 0  Table Count: 1\r\n");
  const uint32_t minutes = 11571840 + 630;
  const Bytes expected = Image(
      128, {0, 0, 1, 0, 0},
      {{1, InfoArea({{0x00, static_cast<uint8_t>(minutes), static_cast<uint8_t>(minutes >> 8),
                      static_cast<uint8_t>(minutes >> 16)},
                     Text(""), Text("MB-7"), Text("SN0042"), Text(""), {0x00}})}});
  EXPECT_EQ(FruFile(), expected);
}

TEST_F(InputsCli, NoBoardNameMeansTheRunFailsWithoutWritingAnEmptyName) {
  for (const auto& args : {std::vector<std::string>{"ID=0", "BPN"}, {"ID=0", "BPN", "ClearFru=1"}}) {
    CliResult alone = Run(args, "", {{"TAGFORGE_SMBIOS", dir_.File("none")}});
    EXPECT_NE(alone.output.find("ERROR: SMBIOS table not found.\r\n"), std::string::npos);
    EXPECT_EQ(alone.output.find("Clear FRU data"), std::string::npos);  // asked for a field: never a clear
    EXPECT_EQ(alone.output.find("   00 01 02"), std::string::npos);     // an edit: no dump, no listing
    EXPECT_TRUE(EndsWith(alone.output, "[ERROR] No field has a value to write\nReturn code = 1.\n")) << alone.output;
    EXPECT_EQ(alone.status, 1);
    EXPECT_EQ(FruFile(), EmptyBoardFru(128));
  }

  CliResult withSerial = Run({"ID=0", "BPN", "BSN=S7"}, "", {{"TAGFORGE_SMBIOS", dir_.File("none")}});
  EXPECT_TRUE(EndsWith(withSerial.output, "done.\n[ERROR] Board Product Name was not written\nReturn code = 1.\n"))
      << withSerial.output;
  EXPECT_EQ(withSerial.status, 1);
  EXPECT_EQ(FruFile(), BoardFru("S7"));
}

}  // namespace
