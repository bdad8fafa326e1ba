// Tagforge.efi in real firmware (OVMF) and its UEFI shell, against QEMU's
// own BMC simulator: a BMC nobody here wrote.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli_harness.h"
#include "fru_bytes.h"
#include "qemu_shell.h"

namespace {

constexpr int kBootTimeoutSeconds = 240;
const char* const kBmc = "-device";

Bytes Of(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::vector<std::string> QemuBmc(int manufacturer, const std::string& fruFile) {
  return {kBmc, "ipmi-bmc-sim,id=bmc0,mfg_id=" + std::to_string(manufacturer) +
                    ",fwrev1=1,fwrev2=0x25,fruareasize=512,frudatafile=" + fruFile,
          kBmc, "isa-ipmi-kcs,bmc=bmc0"};
}

// The host program on the same image, for the same command line.
std::string HostOutput(const std::vector<std::string>& args, const Bytes& fru) {
  TempDir dir;
  WriteFileBytes(dir.File("fru.bin"), fru);
  return RunTagforge(CliRun{args, {{"TAGFORGE_BMC", "sim:" + dir.File("fru.bin")}}, "", dir.path()}).output;
}

bool Contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

class E2e : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Boot boot;
    boot.name = "production_line";
    boot.files = {{"fru.bin", StartingFru512()},
                  {"fat/lf.txt", Of("ID=0\nPSN=LF-1\n")},
                  {"fat/crlf.txt", Of("ID=0\r\nPPN=CRLF-2\r\n")},
                  {"fat/sub/ID.txt", Of("ID=0\n")},
                  {"fat/pack.txt", Of("  # batch 7, BAT and BSN scanned later\r\nID=0\r\nPPN=BATTERY PACK\r\n")},
                  {"fat/typo.txt", Of("ID=0\r\nBSM=X\r\n")},
                  {"fat/ignored.txt", Of("# batch 8\r\n\r\nClearFru=1\r\n")}};
    boot.qemuOptions = QemuBmc(32473, "fru.bin");
    for (const char* o : {"-smbios", "type=2,manufacturer=Acme,product=E2E-BOARD", "-rtc", "base=2018-01-01T10:00:00"}) {
      boot.qemuOptions.push_back(o);
    }
    boot.commands = {
        {"usage", "Tagforge.efi", {}},
        {"list", "Tagforge.efi ID=0", {}},
        {"edit", "Tagforge.efi ID=0 BSN=E2E-0001", {}},
        {"list_edited", "Tagforge.efi ID=0", {}},
        {"file_pack", "Tagforge.efi FILE=pack.txt", {}},  // its product name is overwritten by file_crlf
        {"file_lf", "Tagforge.efi FILE=lf.txt", {}},
        {"file_crlf", "Tagforge.efi FILE=crlf.txt", {}},
        {"file_folder", "Tagforge.efi ID=0 FILE=sub", {}},
        {"file_root", "Tagforge.efi ID=0 FILE=\\", {}},
        {"board_name", "Tagforge.efi ID=0 BPN", {}},
        {"clock", "Tagforge.efi ID=0 BDT", {}},
        {"scanner", "Tagforge.efi ID=0 BSN", {{"[trial 1]:", "SCAN42\r"}, {"[trial 2]:", "SCAN42\r"}}},
        {"file_typo", "Tagforge.efi FILE=typo.txt", {}},
        {"file_ignored", "Tagforge.efi ID=0 FILE=ignored.txt", {}},
        {"list_all", "Tagforge.efi ID=0", {}},
        {"clear", "Tagforge.efi ID=0 ClearFru=1", {}},
        {"list_cleared", "Tagforge.efi ID=0", {}},
    };
    line_ = new BootResult(RunBoot(boot, kBootTimeoutSeconds));

    Boot bare;
    bare.name = "smbios3_only";
    // OVMF offers a "_SM_" entry point even for an SMBIOS 3.0 table; the test
    // tool takes it out of the configuration table, leaving only SMBIOS 3.x,
    // as on firmware that publishes the 64-bit entry point alone.
    bare.files = {{"fru.bin", StartingFru512()}};
    bare.qemuOptions = QemuBmc(32473, "fru.bin");
    for (const char* o : {"-machine", "q35,accel=tcg,smbios-entry-point-type=64", "-smbios",
                          "type=2,manufacturer=Acme,product=SMBIOS3-BOARD"}) {
      bare.qemuOptions.push_back(o);
    }
    bare.commands = {{"drop", "drop_smbios2.efi", {}},
                     {"board_name3", "Tagforge.efi ID=0 BPN", {}},
                     {"list3", "Tagforge.efi ID=0", {}}};
    bare_ = new BootResult(RunBoot(bare, kBootTimeoutSeconds));

    // A board whose own disk is the first volume: the tool runs from the stick, FS1.
    Boot two;
    two.name = "two_volumes";
    two.files = {{"fru.bin", StartingFru512()},
                 {"fat2/Tagforge.efi", ReadFileBytes(TAGFORGE_EFI)},
                 {"fat2/stick.txt", Of("ID=0\r\nBSN=STICK-1\r\n")},
                 {"fat/same.txt", Of("ID=0\r\nPSN=SAME-1\r\n")},
                 {"fat2/same.txt", Of("ID=0\r\nPSN=SAME-1\r\n")},
                 {"fat/stale.txt", Of("ID=0\r\nPSN=OLD-BATCH\r\n")},
                 {"fat2/stale.txt", Of("ID=0\r\nPSN=NEW-BATCH\r\n")}};
    two.qemuOptions = QemuBmc(32473, "fru.bin");
    for (const char* o : {"-drive", "file=fat:rw:fat2,format=raw,media=disk"}) two.qemuOptions.push_back(o);
    two.commands = {{"fs1", "FS1:", {}},
                    {"stick", "Tagforge.efi FILE=stick.txt", {}},
                    {"same", "Tagforge.efi FILE=same.txt", {}},
                    {"stale", "Tagforge.efi FILE=stale.txt", {}},
                    {"nowhere", "Tagforge.efi FILE=nowhere.txt", {}},
                    {"list", "Tagforge.efi ID=0", {}}};
    two_ = new BootResult(RunBoot(two, kBootTimeoutSeconds));

    Boot other;
    other.name = "other_manufacturer";
    other.files = {{"fru.bin", StartingFru512()}};
    other.qemuOptions = QemuBmc(1, "fru.bin");
    other.commands = {{"other", "Tagforge.efi ID=0", {}}};
    other_ = new BootResult(RunBoot(other, kBootTimeoutSeconds));
  }
  static void TearDownTestSuite() {
    delete line_;
    delete bare_;
    delete two_;
    delete other_;
  }

  static const CommandResult& Line(const std::string& name) { return line_->commands[name]; }

  static BootResult* line_;
  static BootResult* bare_;
  static BootResult* two_;
  static BootResult* other_;
};

BootResult* E2e::line_ = nullptr;
BootResult* E2e::bare_ = nullptr;
BootResult* E2e::two_ = nullptr;
BootResult* E2e::other_ = nullptr;

TEST_F(E2e, EveryBootRanItsScriptToTheEnd) {
  EXPECT_TRUE(line_->finished) << line_->transcript;
  EXPECT_EQ(line_->commands.size(), 17u) << line_->transcript;
  EXPECT_TRUE(bare_->finished) << bare_->transcript;
  EXPECT_TRUE(other_->finished) << other_->transcript;
}

TEST_F(E2e, AParameterFileTypoEndsTheRunAndLinesOnlyTheCommandLineTakesAreSaidToBeIgnored) {
  EXPECT_TRUE(Contains(Line("file_typo").output, "[ERROR] Unsupported parameter: BSM=X")) << Line("file_typo").output;
  EXPECT_FALSE(Contains(Line("file_typo").output, "BMC Revision"));
  EXPECT_EQ(Line("file_typo").status, "0x1");
  EXPECT_TRUE(Contains(Line("file_ignored").output, "Ignored in a parameter file: ClearFru=1"))
      << Line("file_ignored").output;
  EXPECT_FALSE(Contains(Line("file_ignored").output, "Clear FRU data"));
  EXPECT_EQ(Line("file_ignored").status, "0x0");
  // The FRU kept: the listing after it still holds the scanned serial number.
  EXPECT_TRUE(Contains(Line("list_all").output, "SCAN42")) << Line("list_all").output;
}

TEST_F(E2e, NoArgumentsShowTheUsageAndExitOne) {
  EXPECT_EQ(Line("usage").output, HostOutput({}, StartingFru512()));
  EXPECT_EQ(Line("usage").status, "0x1");
}

TEST_F(E2e, TheListingAndTheEditPrintWhatTheHostProgramPrints) {
  EXPECT_EQ(Line("list").output, HostOutput({"ID=0"}, StartingFru512()));
  EXPECT_EQ(Line("list").status, "0x0");
  EXPECT_EQ(Line("edit").output, HostOutput({"ID=0", "BSN=E2E-0001"}, StartingFru512()));
  EXPECT_EQ(Line("edit").status, "0x0");
  EXPECT_TRUE(Contains(Line("list_edited").output, "       Board Serial Number: \"E2E-0001\" (8 bytes)\n"));
}

TEST_F(E2e, ParameterFilesWithLfAndCrlfLines) {
  EXPECT_TRUE(Contains(Line("file_lf").output, "done.\n")) << Line("file_lf").output;
  EXPECT_EQ(Line("file_lf").status, "0x0");
  EXPECT_TRUE(Contains(Line("file_crlf").output, "done.\n")) << Line("file_crlf").output;
  EXPECT_EQ(Line("file_crlf").status, "0x0");
  EXPECT_TRUE(Contains(Line("list_all").output, "     Product Serial Number: \"LF-1\" (4 bytes)\n"));
  EXPECT_TRUE(Contains(Line("list_all").output, "              Product Name: \"CRLF-2\" (6 bytes)\n"));
}

TEST_F(E2e, AValueThatHoldsAKeywordAndACommentLineRunUnattended) {
  const std::string& out = Line("file_pack").output;
  EXPECT_EQ(out.substr(0, kBanner.size() + 54), kBanner + "              Product Name: \"BATTERY PACK\" (12 bytes)\n");
  EXPECT_FALSE(Contains(out, "BAR code scanner")) << out;
  EXPECT_TRUE(Contains(out, "done.\n")) << out;
  EXPECT_EQ(Line("file_pack").status, "0x0");
}

TEST_F(E2e, AFolderNamedAsTheParameterFileIsRefusedBeforeTheBmc) {
  // No "BMC Revision" line: the run ends before its first request.
  for (const char* name : {"file_folder", "file_root"}) {
    EXPECT_EQ(Line(name).output, kBanner + "Open error \nReturn code = 1.\n") << name;
    EXPECT_EQ(Line(name).status, "0x1") << name;
  }
}

TEST_F(E2e, TheBoardNameComesFromSmbiosAndTheDateFromTheClock) {
  EXPECT_TRUE(Contains(Line("board_name").output, "SMBIOS Ver: 2.8  Rev: 0  Table Count: "));
  EXPECT_TRUE(Contains(Line("board_name").output, "        Board Product Name: \"E2E-BOARD\" (9 bytes)\n"));
  EXPECT_EQ(Line("board_name").status, "0x0");
  EXPECT_TRUE(Contains(Line("clock").output, "Mfg date/time: 2018/1/1\n"));
  EXPECT_EQ(Line("clock").status, "0x0");
  EXPECT_TRUE(Contains(Line("list_all").output, "            Mfg. Date/Time: 2018/1/1 ("));
}

TEST_F(E2e, TheScannerReadsTwoEntriesFromTheConsole) {
  const std::string& out = Line("scanner").output;
  EXPECT_TRUE(Contains(out, "Input  (Board Serial Number) with BAR code scanner [trial 1]:SCAN42\n\n")) << out;
  EXPECT_TRUE(Contains(out, "!!!SCAN42\n       Board Serial Number: \"SCAN42\" (6 bytes)\n")) << out;
  EXPECT_EQ(Line("scanner").status, "0x0");
  EXPECT_TRUE(Contains(Line("list_all").output, "       Board Serial Number: \"SCAN42\" (6 bytes)\n"));
}

TEST_F(E2e, ClearFruZeroesTheInventory) {
  EXPECT_TRUE(Contains(Line("clear").output, "Clear FRU data...\ndone.\n"));
  EXPECT_EQ(Line("clear").status, "0x0");
  EXPECT_FALSE(Contains(Line("list_cleared").output, "Serial Number"));
  EXPECT_TRUE(Contains(Line("list_cleared").output, "1F0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
}

TEST_F(E2e, OnlyAnSmbios3EntryPointStillGivesTheBoardName) {
  EXPECT_TRUE(Contains(bare_->commands["drop"].output, "SMBIOS 2.x entry point removed")) << bare_->transcript;
  const CommandResult& r = bare_->commands["board_name3"];
  EXPECT_TRUE(Contains(r.output, "SMBIOS Ver: 3.")) << r.output;
  EXPECT_TRUE(Contains(r.output, "Table Max Size: ")) << r.output;
  EXPECT_TRUE(EndsWith(r.output, "done.\n")) << r.output;
  EXPECT_EQ(r.status, "0x0");
  EXPECT_TRUE(Contains(bare_->commands["list3"].output, "Board Product Name: \"SMBIOS3-BOARD\"")) << bare_->commands["list3"].output;
}

TEST_F(E2e, TheParameterFileBesideTheToolOnASecondVolume) {
  ASSERT_TRUE(two_->finished) << two_->transcript;
  const auto& c = two_->commands;
  EXPECT_TRUE(Contains(c.at("stick").output, "Parameter file stick.txt read from the tool's volume\n")) << c.at("stick").output;
  EXPECT_TRUE(EndsWith(c.at("stick").output, "done.\n")) << c.at("stick").output;
  EXPECT_TRUE(EndsWith(c.at("same").output, "done.\n")) << c.at("same").output;
  EXPECT_FALSE(Contains(c.at("same").output, "tool's volume"));
  EXPECT_TRUE(Contains(c.at("stale").output, "[ERROR] Parameter file stale.txt differs between the first volume and "
                                             "the tool's volume\nReturn code = 1.\n"))
      << c.at("stale").output;
  EXPECT_FALSE(Contains(c.at("stale").output, "BMC Revision"));
  EXPECT_EQ(c.at("stale").status, "0x1");
  EXPECT_TRUE(Contains(c.at("nowhere").output, "[ERROR] Parameter file nowhere.txt not found on the first volume or on "
                                               "the tool's volume\n"))
      << c.at("nowhere").output;
  EXPECT_TRUE(Contains(c.at("list").output, "\"STICK-1\"")) << c.at("list").output;
  EXPECT_TRUE(Contains(c.at("list").output, "\"SAME-1\""));
  EXPECT_FALSE(Contains(c.at("list").output, "BATCH"));
}

TEST_F(E2e, AnotherManufacturerIsNotSupported) {
  const CommandResult& r = other_->commands["other"];
  EXPECT_EQ(r.output, "Tagforge v1.00 beta\n==============================\n[ERROR] BMC is not supported.\n"
                      "[ERROR] BMC manufacturer ID is 1 (0x000001); this build supports 32473 (0x007ED9)\n"
                      "Return code = 1.\n");
  EXPECT_EQ(r.status, "0x1");
}

}  // namespace
