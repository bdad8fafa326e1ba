// Keyword matching, value extraction and number reading of the command line.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/run_state.h"
#include "app/field_walk.h"
#include "fields/catalogue.h"
#include "runtime/arena.h"

namespace {

// Tokens held for the length of one test.
class Tokens {
 public:
  Tokens(std::initializer_list<const char*> words) {
    for (const char* w : words) storage_.emplace_back(w);
    for (std::string& s : storage_) pointers_.push_back(s.data());
    list_ = TokenList{pointers_.data(), static_cast<int>(pointers_.size()), static_cast<int>(pointers_.size()),
                      static_cast<int>(pointers_.size())};
  }
  const TokenList& list() const { return list_; }

 private:
  std::vector<std::string> storage_;
  std::vector<char*> pointers_;
  TokenList list_{};
};

TEST(ParseInteger, ReadsHexAndDecimalAndRefusesLeftovers) {
  struct Case {
    const char* text;
    int32_t expected;
  };
  const Case cases[] = {
      {"0x1F", 31},      {"31", 31},     {"0X1F", -1},        {"0x", -1},         {"1F", -1},
      {"0x1G", -1},      {"010", 10},    {"", 0},             {"  +42", 42},      {"-5", -5},
      {"-", -1},         {"42 ", -1},    {"0xffffffff", -1},  {"0x1ffffffff", -1}, {"0x100000041", 0x41},
      {"0xFFFFFFFFFFFFFFFF", -1},        {"0x10000000000000000", -1},
      {"9223372036854775807", -1},       {"9223372036854775808", -1},
      {"4294967337", 41},                {"0x00", 0},    {"64", 64},
      {"0xaf", 0xAF},    {"0xAF", 0xAF}, {"0xfF", 0xFF},      {"0xabcdef", 0xABCDEF},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseInteger(c.text), c.expected) << "text \"" << c.text << "\"";
  EXPECT_EQ(ParseInteger(nullptr), -1);
}

TEST(ReadDecimalId, ReadsLikeStrtollAndKeepsTheLow32Bits) {
  struct Case {
    const char* text;
    int32_t expected;
  };
  const Case cases[] = {
      {"0", 0},
      {"12abc", 12},
      {"0x10", 0},
      {"", 0},
      {"-1", -1},
      {"256", 256},
      {"  +7", 7},
      {"4294967296", 0},
      // Held at the largest 64-bit value (low 32 bits all ones), not wrapped.
      {"99999999999999999999", -1},
      {"-99999999999999999999", 0},
      {"9223372036854775807", -1},
      {"abc", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadDecimalId(c.text), c.expected) << "text \"" << c.text << "\"";
}

TEST(OptionLookup, ContainmentIgnoresLetterCaseAndLooksOnlyInTheHead) {
  // The head: up to and including the first "=", or the whole token.
  Tokens tokens{"PSN=ab-V1", "acme", "bsn=CPN123", "xPPN=a=BPA", "HELLO=BPN"};
  EXPECT_EQ(OptionPresent("-v", tokens.list()), 0);
  EXPECT_EQ(OptionPresent("cm", tokens.list()), 1);
  EXPECT_EQ(OptionPresent("ClearFru=", tokens.list()), 0);
  EXPECT_STREQ(OptionValue("BSN", tokens.list()), "=CPN123");
  EXPECT_EQ(OptionValue("CPN", tokens.list()), nullptr);
  EXPECT_STREQ(OptionValue("psn", tokens.list()), "=ab-V1");
  EXPECT_STREQ(OptionValue("ppn", tokens.list()), "=a=BPA");  // the value keeps its own "="
  EXPECT_EQ(OptionValue("BPA", tokens.list()), nullptr);
  EXPECT_EQ(OptionValue("BPN", tokens.list()), nullptr);
  EXPECT_EQ(OptionValue("N=", Tokens{"PSN=1"}.list()) != nullptr, true);  // a keyword may end at the head's "="
}

TEST(OptionLookup, TheFirstTokenThatHoldsTheKeywordWins) {
  Tokens tokens{"BSN=1", "BSN=2", "id=5", "ID=6"};
  EXPECT_STREQ(OptionValue("BSN", tokens.list()), "=1");
  EXPECT_STREQ(OptionValue("id=", tokens.list()), "5");
  Tokens bare{"BSN"};
  EXPECT_STREQ(OptionValue("BSN", bare.list()), "");
}

TEST(OptionLookup, TheKeywordWinsOverTheAliasWhateverTheirOrder) {
  StartRun(nullptr);
  const FieldEntry& cex0 = gFieldCatalogue.rows[3];
  Tokens both{"CMF=xyz", "CEX0=abc"};
  EXPECT_STREQ(FindRowRest(cex0, both.list()), "=abc");
  Tokens aliasOnly{"cmf=xyz"};
  EXPECT_STREQ(FindRowRest(cex0, aliasOnly.list()), "=xyz");
  Tokens neither{"CSN=1"};
  EXPECT_EQ(FindRowRest(cex0, neither.list()), nullptr);
  // A row without an alias is never found through an empty alias keyword.
  EXPECT_EQ(FindRowRest(gFieldCatalogue.rows[0], neither.list()), nullptr);
}

// --verify once turned on the traces and edited the board: nothing is found inside one.
TEST(OptionLookup, TheRunModeOptionsAreWholeTokensThatHoldNoKeyword) {
  struct Case {
    const char* token;
    RunMode mode;
    int verbose;  // the token turns on the traces
  };
  const Case cases[] = {
      {"--verify", RunMode::Verify, 0}, {"--VERIFY", RunMode::Verify, 0}, {"--Dry-Run", RunMode::DryRun, 0},
      {"--check", RunMode::Check, 0},   {"--verify=1", RunMode::Normal, 1}, {"x--check", RunMode::Normal, 0},
  };
  for (const Case& c : cases) {
    Tokens tokens{c.token};
    EXPECT_EQ(RunModeOption(c.token), c.mode) << c.token;
    EXPECT_EQ(OptionPresent("-v", tokens.list()), c.verbose) << c.token;
    const bool named = c.mode != RunMode::Normal || c.verbose == 1;
    EXPECT_EQ(IsIgnoredInParameterFile(c.token), named) << c.token;
  }
}

// A near miss of an option is refused whole, never read as -v plus an edit.
TEST(Validation, AnOptionIsOneOfTheKnownOnesWhole) {
  for (const char* token : {"--verify=1", "--verfiy", "--verify-only", "-verify", "--v", "-vv", " --verify", "--dryrun", "-"}) {
    Tokens tokens{token};
    const char* found = FindUnsupportedToken(tokens.list());
    ASSERT_NE(found, nullptr) << token;
    EXPECT_STREQ(found, token);
  }
  for (const char* token : {"-v", "-V", "-z", "-Z", "--verify", "--CHECK", "--dry-run"}) {
    Tokens tokens{token};
    EXPECT_EQ(FindUnsupportedToken(tokens.list()), nullptr) << token;
  }
}

TEST(Validation, AcceptsOptionsAndKeywordsAnywhereInATokenAndNamesTheFirstOtherToken) {
  struct Case {
    std::initializer_list<const char*> tokens;
    const char* unsupported;
  };
  const Case cases[] = {
      {{"ID=0", "BSN=1"}, nullptr},
      {{"ACME"}, nullptr},
      {{"FruSize=512", "-z", "-V", "clearfru=0", "file=x.txt"}, nullptr},
      {{"cmf=abc", "PUD=1", "bat"}, nullptr},
      {{"ID=0", "HELLO", "WORLD"}, "HELLO"},
      {{"hello"}, "hello"},
      {{""}, ""},
      {{"ID"}, "ID"},
  };
  for (const Case& c : cases) {
    Tokens tokens(c.tokens);
    const char* found = FindUnsupportedToken(tokens.list());
    if (c.unsupported == nullptr) {
      EXPECT_EQ(found, nullptr) << "first token " << *c.tokens.begin();
    } else {
      ASSERT_NE(found, nullptr);
      EXPECT_STREQ(found, c.unsupported);
    }
  }
}

}  // namespace
