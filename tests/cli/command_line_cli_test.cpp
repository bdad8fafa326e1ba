// The host program's console text and exit status for runs that end before
// the BMC is reached.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

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

const std::string kNoBmc =
    "[ERROR] No BMC: load the kernel's IPMI driver: modprobe ipmi_si ipmi_devintf, or set TAGFORGE_BMC (kernel, "
    "lan:HOST, sim, ports)\n";

bool KernelDriverHere() { return std::filesystem::exists("/dev/ipmi0") || std::filesystem::exists("/sys/class/ipmi"); }

// The choice of a BMC comes where the run reaches its first request: the values are shown first.
TEST(CommandLineCli, WithoutABmcNamedOrADriverNothingRunsAndNothingIsWritten) {
  if (KernelDriverHere()) GTEST_SKIP() << "this machine has a kernel IPMI driver";
  TempDir dir;
  CliResult r = RunTagforge({{"ID=0", "BSN=123456"}, {}, "", dir.path()});
  EXPECT_EQ(r.output, kBanner + "       Board Serial Number: \"123456\" (6 bytes)\nReturn code = 1.\n");
  EXPECT_EQ(r.errors, kNoBmc);
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("tagforge-fru.bin")));
}

// Every token line, with a BMC and without one (no TAGFORGE_BMC, no driver):
// the usage, the token errors and the values come out the same, and nothing
// of the BMC shows before them (no sample FRU made, no counters, no line on
// standard error). Lines that reach the BMC show their values first, then the
// BMC's part or the line that there is none.
TEST(CommandLineCli, TheTokensAreDecidedBeforeTheBmcWithOrWithoutOne) {
  if (KernelDriverHere()) GTEST_SKIP() << "this machine has a kernel IPMI driver";
  const std::string serial = "       Board Serial Number: \"EXB123\" (6 bytes)\n";
  const std::string notSet = "[ERROR] FRU ID is not set\nReturn code = 1.\n";
  struct Case {
    std::vector<std::string> args;
    std::string before;  // after the banner, before anything of the BMC
    bool reachesBmc;
    int status;  // with a BMC; without one a run that reaches it ends with 1
  };
  const Case cases[] = {
      {{}, kUsage, false, 1},
      {{"HELLO"}, "[ERROR] Unsupported parameter: HELLO\n", false, 1},
      {{"ID=0", "BSN=EXB123", "hello"}, "[ERROR] Unsupported parameter: hello\n", false, 1},
      {{"ID=0", "BSN", "HELLO"}, "[ERROR] Unsupported parameter: HELLO\n", false, 1},
      {{"--verify", "--dry-run", "ID=0"}, "[ERROR] --verify and --dry-run cannot be used together\n", false, 1},
      {{"BSN=EXB123"}, serial + notSet, false, 1},
      {{"ID=-1", "ClearFru=1"}, "[ERROR] FRU ID must be a number from 0 to 255, not \"-1\"\nReturn code = 1.\n", false, 1},
      {{"ID=0", "FILE=missing.txt"},
       "[ERROR] Parameter file missing.txt not found\nReturn code = 1.\n", false, 1},
      {{"ID=0", "BSN=" + std::string(64, 'x')},
       "       Board Serial Number: \"" + std::string(64, 'x') + "\" (64 bytes)\n[ERROR] Parameter size > 63 bytes\nReturn code = 1.\n",
       false, 1},
      {{"ID=0", "BDT=2018/13/1"},
       "Mfg date/time: 2018/13/1\nYYYY/MM/DD is not correct.\n[ERROR] Mfg Date/Time invalid\nReturn code = 1.\n", false, 1},
      {{"--check", "ID=0", "BSN=EXB123"}, serial + "check passed.\n", false, 0},
      {{"ID=0"}, "", true, 0},
      {{"ID=0", "BSN=EXB123"}, serial, true, 0},
      {{"--dry-run", "ID=0", "BSN=EXB123"}, serial, true, 0},
  };
  for (const Case& c : cases) {
    for (const bool present : {false, true}) {
      TempDir dir;
      std::map<std::string, std::string> env{{"TAGFORGE_VOLUME", dir.path()}};
      if (present) env = {{"TAGFORGE_VOLUME", dir.path()}, {"TAGFORGE_BMC", "sim:" + dir.File("fru.bin")}, {"TAGFORGE_SIM_STATS", "1"}};
      const CliResult r = RunTagforge({c.args, env, "", dir.path()});
      SCOPED_TRACE((c.args.empty() ? std::string("(none)") : c.args.back()) + (present ? " with a BMC" : " without"));
      if (!c.reachesBmc) {
        EXPECT_EQ(r.output, kBanner + c.before);
        EXPECT_EQ(r.errors, "");
        EXPECT_EQ(r.status, c.status);
        EXPECT_FALSE(std::filesystem::exists(dir.File("fru.bin")));
      } else if (!present) {
        EXPECT_EQ(r.output, kBanner + c.before + "Return code = 1.\n");
        EXPECT_EQ(r.errors, kNoBmc);
        EXPECT_EQ(r.status, 1);
      } else {
        EXPECT_EQ(r.output.rfind(kBanner + c.before + "BMC Revision = ", 0), 0u) << r.output;
        EXPECT_EQ(r.errors.rfind("sim: ", 0), 0u) << r.errors;
        EXPECT_EQ(r.status, c.status) << r.output;
      }
    }
  }
}

// Matched whole, in any letter case, before anything else: "-v" is never found
// inside them, no BMC is needed, and whatever else the line holds is not run.
TEST(CommandLineCli, HelpAndVersionPrintAndEndWhateverElseTheLineHolds) {
  const std::string help =
      kBanner + kUsage +
      "Settings (environment):\n"
      "TAGFORGE_BMC=kernel[:N]         the kernel's IPMI driver (the default when its device node exists)\n"
      "TAGFORGE_BMC=lan:HOST[:PORT]    a BMC's network port, IPMI 2.0 (TAGFORGE_LAN_* below)\n"
      "TAGFORGE_BMC=file:PATH          a FRU image file\n"
      "TAGFORGE_BMC=eeprom:PATH        a FRU EEPROM through Linux's at24 driver\n"
      "TAGFORGE_BMC=sim[:PATH]         the simulated BMC, its FRU in PATH (default ./tagforge-fru.bin)\n"
      "TAGFORGE_BMC=ports              the KCS interface at I/O ports 0xCA2/0xCA3 (root, no kernel driver)\n"
      "TAGFORGE_LAN_USER               the BMC user; its password in TAGFORGE_LAN_PASSWORD_FILE\n"
      "TAGFORGE_LAN_WORKAROUNDS        libfreeipmi's workarounds (opensesspriv, ...); also _CIPHER, _PRIVILEGE\n"
      "TAGFORGE_MANUFACTURER_ID=ID,... the BMC makers a run accepts (default: this build's)\n"
      "TAGFORGE_JOURNAL=DIR|off        the folder of the write journal\n"
      "TAGFORGE_REPORT=FILE            appends each run's record, one JSON object a line\n"
      "TAGFORGE_VOLUME=DIR             where FILE= is read (default: the current folder)\n"
      "TAGFORGE_NOW=YYYY-MM-DDTHH:MM   a fixed clock, for BDT without a date\n"
      "TAGFORGE_ERASE_NON_FRU=PATH     lets ClearFru=1 overwrite PATH although it holds no FRU data\n"
      "Host options: --check, --verify, --dry-run, --json (the run's record on standard output), --version\n";
  std::string version = std::string("tagforge ") + TAGFORGE_TEST_VERSION + "\nLAN (TAGFORGE_BMC=lan:HOST): " +
                        (TAGFORGE_TEST_LAN ? "yes" : "no") + "\nstatic: no\nmanufacturer IDs:";
  for (unsigned id : {TAGFORGE_TEST_MANUFACTURER_IDS}) {
    char text[32];
    snprintf(text, sizeof(text), " %u (0x%06X)", id, id);
    version += text;
  }
  version += "\n";
  struct Case {
    std::vector<std::string> args;
    const std::string& output;
  };
  const Case cases[] = {
      {{"--help"}, help},
      {{"--HELP", "ID=0", "BSN=EXB123"}, help},
      {{"HELLO", "--Help"}, help},
      {{"--help", "--version"}, help},
      {{"--version"}, version},
      {{"--version", "ID=0"}, version},
      {{"BSN", "--VERSION", "ClearFru=1"}, version},
      {{"--json", "--version", "ID=0"}, version},
  };
  for (const Case& c : cases) {
    // A BMC that would be listed, cleared or written were the rest run; and none at all.
    for (const bool present : {false, true}) {
      TempDir dir;
      std::map<std::string, std::string> env;
      if (present) env = {{"TAGFORGE_BMC", "sim:" + dir.File("fru.bin")}, {"TAGFORGE_REPORT", dir.File("r.jsonl")}};
      const CliResult r = RunTagforge({c.args, env, "", dir.path()});
      SCOPED_TRACE(c.args[0] + (present ? " with a BMC" : ""));
      EXPECT_EQ(r.output, c.output);
      EXPECT_EQ(r.errors, "");
      EXPECT_EQ(r.status, 0);
      EXPECT_TRUE(std::filesystem::is_empty(dir.path()));  // no FRU made, no record, no journal
    }
  }
  // Not whole, they are neither: the tokens are unsupported.
  for (const char* token : {"--helpme", "--json=1"}) {
    const CliResult r = RunOnSimulatedBmc({token, "ID=0"});
    EXPECT_EQ(r.output, kBanner + "[ERROR] Unsupported parameter: " + token + "\n") << token;
    EXPECT_EQ(r.status, 1);
  }
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
      {"ACME"}, {"-z", "FruSize=512"}, {"ClearFru=1"},
  };
  for (const auto& args : cases) {
    CliResult r = RunOnSimulatedBmc(args);
    EXPECT_EQ(r.output, kBanner + "[ERROR] FRU ID is not set\nReturn code = 1.\n") << args[0];
    EXPECT_EQ(r.status, 1);
  }
}

}  // namespace
