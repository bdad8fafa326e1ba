// Inputs that must never do more than they say: keywords only in a token's
// head, ClearFru=0, a missing parameter file, comment lines, whole chassis
// type numbers, a damaged header over data, and the manufacturer check.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_harness.h"
#include "fru_bytes.h"

namespace {

const Bytes kNoDate{0x00, 0x00, 0x00, 0x00};

Bytes Board(const std::string& serial = "") {
  return InfoArea({kNoDate, Text(""), Text(""), Text(serial), Text(""), {0x00}});
}
Bytes BoardFru(const std::string& serial = "") { return Image(128, {0, 0, 1, 0, 0}, {{1, Board(serial)}}); }
// The board area first, the product area right after it.
Bytes BoardAndProductFru(const std::string& serial, const std::string& name, const std::string& productSerial = "") {
  const Bytes board = Board(serial);
  const int product = 1 + static_cast<int>(board.size() / 8);
  return Image(128, {0, 0, 1, product, 0},
               {{1, board},
                {product,
                 InfoArea({{0x00}, Text(""), Text(name), Text(""), Text(""), Text(productSerial), Text(""), {0x00}})}});
}

class SafeInputs : public ::testing::Test {
 protected:
  void SetUp() override { WriteFileBytes(fruPath_, BoardFru()); }
  CliResult Run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    env.emplace("TAGFORGE_BMC", "sim:" + fruPath_);
    env.emplace("TAGFORGE_VOLUME", dir_.path());
    return RunTagforge(CliRun{std::move(args), env, "", dir_.path()});  // no scanner input: a prompt ends empty
  }
  void WriteVolumeFile(const std::string& name, const std::string& content) {
    WriteFileBytes(dir_.File(name), Bytes(content.begin(), content.end()));
  }
  Bytes FruFile() const { return ReadFileBytes(fruPath_); }

  TempDir dir_;
  std::string fruPath_ = dir_.File("fru.bin");
};

// A value that holds a keyword sets only its own field and never prompts the
// scanner; the same tokens as parameter-file lines behave alike.
TEST_F(SafeInputs, KeywordsAreFoundOnlyInATokensHead) {
  struct Case {
    std::vector<std::string> tokens;  // after ID=0
    std::string shown;                // the value lines of the field walk
    Bytes fru;
  };
  const Case cases[] = {
      {{"PPN=BATTERY PACK"}, "              Product Name: \"BATTERY PACK\" (12 bytes)\n",
       BoardAndProductFru("", "BATTERY PACK")},
      {{"BSN=PSN12345"}, "       Board Serial Number: \"PSN12345\" (8 bytes)\n", BoardFru("PSN12345")},
      {{"PSN=ab-v1", "BSN=CPN-7"},
       "       Board Serial Number: \"CPN-7\" (5 bytes)\n     Product Serial Number: \"ab-v1\" (5 bytes)\n",
       BoardAndProductFru("CPN-7", "", "ab-v1")},
      {{"xBSN=12"}, "       Board Serial Number: \"12\" (2 bytes)\n", BoardFru("12")},
  };
  for (bool inFile : {false, true}) {
    for (const Case& c : cases) {
      SetUp();
      std::vector<std::string> args{"ID=0"};
      std::string lines;
      for (const std::string& t : c.tokens) lines += t + "\n";
      if (inFile) {
        WriteVolumeFile("line.txt", lines);
        args.push_back("FILE=line.txt");
      } else {
        args.insert(args.end(), c.tokens.begin(), c.tokens.end());
      }
      CliResult r = Run(args);
      SCOPED_TRACE(lines + (inFile ? "(in a file)\n" : "(on the command line)\n") + r.output);
      EXPECT_EQ(r.output.substr(0, kBanner.size() + c.shown.size()), kBanner + c.shown);
      EXPECT_EQ(r.output.find("BAR code scanner"), std::string::npos);
      EXPECT_EQ(r.output.find("[KCS]"), std::string::npos);  // -v in a value is no -v
      EXPECT_TRUE(EndsWith(r.output, "done.\n"));
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(FruFile(), c.fru);
    }
  }
}

TEST_F(SafeInputs, TheHeadDecidesWhatIsSupportedAndWhatIsScanned) {
  // A file named after a keyword's letters only names the file.
  WriteVolumeFile("batch.txt", "ID=0\nBSN=B-1\n");
  CliResult file = Run({"FILE=batch.txt"});
  EXPECT_TRUE(EndsWith(file.output, "done.\n")) << file.output;
  EXPECT_EQ(FruFile(), BoardFru("B-1"));

  CliResult hello = Run({"ID=0", "HELLO=BSN"});
  EXPECT_EQ(hello.output, kBanner + "[ERROR] Unsupported parameter: HELLO=BSN\n");
  EXPECT_EQ(hello.status, 1);

  CliResult acme = Run({"ID=0", "ACME"});  // holds "cm": accepted, and lists
  EXPECT_EQ(acme.status, 0);
  EXPECT_NE(acme.output.find("       Board Serial Number: \"B-1\" (3 bytes)\n"), std::string::npos);

  CliResult scan = Run({"ID=0", "BSN"});  // no "=": the whole token is the head, and the scanner is asked
  EXPECT_NE(scan.output.find("Input  (Board Serial Number) with BAR code scanner [trial 1]:"), std::string::npos);
}

TEST_F(SafeInputs, CommentLinesAndAMissingFile) {
  WriteVolumeFile("line.txt", "# batch 7\n   # ID=1\n\t#BSN=X\nID=0\nBSN=C-1 # not a comment\n");
  CliResult r = Run({"FILE=line.txt"});
  EXPECT_TRUE(EndsWith(r.output, "done.\n")) << r.output;
  EXPECT_EQ(FruFile(), BoardFru("C-1 # not a comment"));

  SetUp();
  CliResult missing = Run({"ID=0", "FILE=lnie.txt", "BSN=S-2"});
  EXPECT_EQ(missing.output, kBanner + "[ERROR] Parameter file lnie.txt not found\nReturn code = 1.\n");
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("lnie.txt")));
  EXPECT_EQ(FruFile(), BoardFru());
}

TEST_F(SafeInputs, OnlyClearFruAloneOrOneClearsAndZeroKeeps) {
  enum class Ends { Keeps, Clears, Refused };
  const struct {
    const char* token;
    Ends ends;
  } cases[] = {{"ClearFru=0", Ends::Keeps},      {"ClearFru=", Ends::Clears},      {"ClearFru=1", Ends::Clears},
               {"CLEARFRU=1", Ends::Clears},     {"clearfru=00", Ends::Refused},   {"ClearFru=no", Ends::Refused},
               {"ClearFru=false", Ends::Refused}, {"NoClearFru=1", Ends::Refused}, {"ClearFru=1x", Ends::Refused}};
  for (const auto& c : cases) {
    SetUp();
    CliResult r = Run({"ID=0", c.token});
    if (c.ends == Ends::Refused) {
      EXPECT_EQ(r.output, kBanner + "[ERROR] Unsupported parameter: " + c.token + "\n");
    }
    EXPECT_EQ(r.status, c.ends == Ends::Refused ? 1 : 0) << c.token;
    EXPECT_EQ(r.output.find("Clear FRU data...") != std::string::npos, c.ends == Ends::Clears) << c.token;
    EXPECT_EQ(FruFile(), c.ends == Ends::Clears ? Bytes(128, 0x00) : BoardFru()) << c.token;
  }
}

TEST_F(SafeInputs, AParameterFileLineWithoutAKeywordEndsTheRunAsOnTheCommandLine) {
  const struct {
    const char* content;
    const char* shown;
  } cases[] = {{"ID=0\nBSM=EXB123\nBSN=B-1\n", "BSM=EXB123"},
               {"# batch 7\n\nhello world\nBSN=B-1\n", "hello world"},
               {"ID=0\nClearFru=no\nNoSuch\n", "NoSuch"}};
  for (const auto& c : cases) {
    SetUp();
    WriteVolumeFile("batch.txt", c.content);
    CliResult r = Run({"FILE=batch.txt"});
    EXPECT_TRUE(EndsWith(r.output, std::string("[ERROR] Unsupported parameter: ") + c.shown + "\n")) << r.output;
    EXPECT_EQ(r.output.find("BMC Revision"), std::string::npos);  // nothing reached the BMC
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(FruFile(), BoardFru());
  }
}

TEST_F(SafeInputs, ChassisTypeIsAWholeDecimalNumber) {
  const struct {
    const char* token;
    const char* ending;
  } cases[] = {{"CTY=", "[ERROR] Chassis type invalid\nReturn code = 1.\n"},
               {"CTY=abc", "[ERROR] Chassis type invalid\nReturn code = 1.\n"},
               {"CTY=3x", "[ERROR] Chassis type invalid\nReturn code = 1.\n"},
               {"CTY=0x17", "[ERROR] Chassis type invalid\nReturn code = 1.\n"},
               {"CTY=37", "[ERROR] Chassis Type Out Of Range\nReturn code = 1.\n"},
               {"CTY=23", "done.\n"}};
  for (const auto& c : cases) {
    SetUp();
    CliResult r = Run({"ID=0", c.token});
    EXPECT_TRUE(EndsWith(r.output, c.ending)) << c.token << "\n" << r.output;
    const bool stored = std::string(c.ending) == "done.\n";
    EXPECT_EQ(r.status, stored ? 0 : 1) << c.token;
    EXPECT_EQ(FruFile(), stored ? Image(128, {0, 1, 2, 0, 0},
                                        {{1, InfoArea({{23}, Text(""), Text(""), Text("")})}, {2, Board()}})
                                : BoardFru())
        << c.token;
  }
}

TEST_F(SafeInputs, AnInvalidHeaderOverDataIsNeverRebuilt) {
  Bytes flipped = BoardFru("KEEP");
  flipped[2] ^= 0x04;  // one bit of the board offset
  for (const Bytes& fru : {flipped, Bytes(128, 0xFF)}) {
    WriteFileBytes(fruPath_, fru);
    CliResult r = Run({"ID=0", "BSN=N-1"});
    if (fru == flipped) {
      // A FRU file that holds something else than FRU data is never written (a BMC's own FRU is refused by
      // the lint instead: "Common header invalid on a FRU that holds data").
      EXPECT_TRUE(EndsWith(r.output, "[ERROR] " + fruPath_ + " holds no FRU data\nReturn code = 1.\n")) << r.output;
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(FruFile(), flipped);
    } else {
      EXPECT_NE(r.output.find("Common header invalid, rebuild...\n"), std::string::npos);
      EXPECT_TRUE(EndsWith(r.output, "done.\n"));
      EXPECT_EQ(FruFile(), [] {
        Bytes blankBoard = Image(128, {0, 0, 1, 0, 0}, {{1, Board("N-1")}});
        std::fill(blankBoard.begin() + 8 + 16, blankBoard.end(), 0xFF);  // past the new image, as erased
        return blankBoard;
      }());
    }
  }
}

TEST_F(SafeInputs, TheManufacturerCheckSaysWhatItFoundAndWhatItTakes) {
  const struct {
    std::map<std::string, std::string> env;
    std::string ending;
    int status;
  } cases[] = {
      {{{"TAGFORGE_SIM_FAULTS", "mfg=343"}},
       "[ERROR] BMC is not supported.\n"
       "[ERROR] BMC manufacturer ID is 343 (0x000157); this build supports 32473 (0x007ED9)\nReturn code = 1.\n",
       1},
      {{{"TAGFORGE_SIM_FAULTS", "mfg=343"}, {"TAGFORGE_MANUFACTURER_ID", "7,0x157"}}, "done.\n", 0},
      {{{"TAGFORGE_MANUFACTURER_ID", "7,10"}},
       "[ERROR] BMC is not supported.\n"
       "[ERROR] BMC manufacturer ID is 32473 (0x007ED9); this build supports 7 (0x000007), 10 (0x00000A)\n"
       "Return code = 1.\n",
       1},
  };
  for (const auto& c : cases) {
    SetUp();
    CliResult r = Run({"ID=0", "BSN=M-1"}, c.env);
    EXPECT_TRUE(EndsWith(r.output, c.ending)) << r.output;
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(FruFile(), c.status == 0 ? BoardFru("M-1") : BoardFru());
  }
  for (const char* bad : {"", "abc", "1,,2", "0x1000000", "12 "}) {
    CliResult r = Run({"ID=0"}, {{"TAGFORGE_MANUFACTURER_ID", bad}});
    // Read where the run reaches the BMC, before any request.
    EXPECT_EQ(r.output, kBanner + "Return code = 1.\n") << bad;
    EXPECT_NE(r.errors.find("tagforge: TAGFORGE_MANUFACTURER_ID must be"), std::string::npos) << bad;
    EXPECT_EQ(r.status, 1) << bad;
  }
}

}  // namespace
