// The host program's console text and exit status for runs that end before
// the BMC is reached.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_harness.h"

namespace {

const char* const kUsage =
    "Usage:   Tagforge [ID=id] [options] [info1=Data] [info2=Data] ...\n"
    "Options:\n"
    "FILE ----- Set data by file\n"
    "Chassis Info.\n"
    "CTY ------ Chassis Type (1-17)        CPN ------ Chassis Part Number\n"
    "CSN ------ Chassis Serial Number      CEX# ----- Chassis Extra data(0 - 7)\n"
    "CMF ------ Chassis Manufacturer(CEX0) CVR  ----- Chassis Version(CEX1)\n"
    "CAT ------ Chassis Asset Tag(CEX2)    CSK  ----- Chassis SKU Number(CEX3)\n"
    "CMD ------ Chassis Model(CEX4)\n"
    "Board Info.\n"
    "BDT ------ Board Mfg (YYYY/MM/DD)     BMF ------ Board Manufacturer\n"
    "BPN ------ Board Product Name         BSN ------ Board Serial Number\n"
    "BPA ------ Board Part Number          BFI ------ Board FRU File ID\n"
    "BEX# ----- Board Extra data(0 - 7)\n"
    "BVR ------ Board Version(BEX0)        BAT  ----- Board Asset Tag(BEX1)\n"
    "Product Info.\n"
    "PMF ------ Product Manufacturer       PPN ------ Product Product Name\n"
    "PPM ------ Product Part/Model Number  PPV ------ Product Product Version\n"
    "PSN ------ Product Serial Number      PAT ------ Product Asset Tag\n"
    "PFI ------ Product FRU File ID        PEX# ----- Product Extra data(0 - 7)\n"
    "PUD ------ Product UUID(PEX0)         PSK  ----- Product SKU Number(PEX1)\n"
    "PFM ------ Product Family(PEX2)\n"
    "Format:\n"
    "Enclosed with '\"' if spaces needed. eg. \"PPN=product name\"\n"
    "Started w/ hex followed by ',' to set data type, eg. \"CEX0=0x00,0x1 0x2 0x3\"\n"
    "Option w/o data and '=' to use barcode scanner, w/o data but w/ '=' to erase.\n"
    "Example:\n"
    "Tagforge ID=0 BDT=2018/1/1 BSN=123456 - Set Mfg Date=2018/1/1, SN=123456\n"
    "Tagforge ID=0 BDT BPN BSN - Mfg Date=system date, auto Product Name, scan SN\n";

// A simulated BMC in a folder of the test's own; these runs end before they reach it.
CliResult RunOnSimulatedBmc(std::vector<std::string> args) {
  static TempDir dir;
  return RunTagforge({std::move(args), {{"TAGFORGE_BMC", "sim:" + dir.File("fru.bin")}}});
}

TEST(CommandLineCli, WithoutABmcNamedOrADriverNothingRunsAndNothingIsWritten) {
  TempDir dir;
  CliResult r = RunTagforge({{"ID=0", "BSN=123456"}, {}, "", dir.path()});
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors, "[ERROR] No BMC: load the kernel's IPMI driver: modprobe ipmi_si ipmi_devintf, or set "
                      "TAGFORGE_BMC (kernel, lan:HOST, sim, ports)\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("tagforge-fru.bin")));
}

TEST(CommandLineCli, NoArgumentsPrintsTheBannerAndTheUsageAndFails) {
  CliResult r = RunTagforge({});
  EXPECT_EQ(r.output, kBanner + kUsage);
  EXPECT_EQ(r.status, 1);
}

TEST(CommandLineCli, UnsupportedTokensAreRejectedBeforeAnythingElse) {
  struct Case {
    std::vector<std::string> args;
    const char* shown;
  };
  const Case cases[] = {
      {{"HELLO"}, "HELLO"},
      {{"ID=0", "BSN=1", "hello", "XYZ"}, "hello"},
      {{"ID=0", "BSN", "HELLO"}, "HELLO"},  // no scanner prompt comes first
  };
  for (const Case& c : cases) {
    CliResult r = RunOnSimulatedBmc(c.args);
    EXPECT_EQ(r.output, kBanner + "[ERROR] Unsupported parameter: " + c.shown + "\n");
    EXPECT_EQ(r.status, 1);
  }
}

TEST(CommandLineCli, AMissingOrUnsetFruIdEndsTheRunBeforeTheBmc) {
  const std::vector<std::string> cases[] = {
      {"ACME"}, {"ID=-1"}, {"-z", "FruSize=512"}, {"ID=99999999999999999999"}, {"ClearFru=1"},
  };
  for (const auto& args : cases) {
    CliResult r = RunOnSimulatedBmc(args);
    EXPECT_EQ(r.output, kBanner + "[ERROR] FRU ID is not set\nReturn code = 1.\n") << args[0];
    EXPECT_EQ(r.status, 1);
  }
}

}  // namespace
