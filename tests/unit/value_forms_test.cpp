// Field values from tokens: the catalogue walk, value forms and their messages.
#include <gtest/gtest.h>

#include <vector>

#include "app/field_walk.h"
#include "platform/host/host_console.h"
#include "fru_test_support.h"

namespace {

class ValueForms : public FruTest {
 protected:
  FieldWalkResult Walk(std::initializer_list<const char*> words) {
    storage_.assign(words.begin(), words.end());
    pointers_.clear();
    for (std::string& s : storage_) pointers_.push_back(s.data());
    run_ = RunState{};
    run_.tokens = TokenList{pointers_.data(), static_cast<int>(pointers_.size()), static_cast<int>(pointers_.size()),
                            static_cast<int>(pointers_.size())};
    return WalkFieldCatalogue(run_);
  }
  static Bytes Value(const FieldEntry& row) { return Bytes(row.Data, row.Data + (row.Size > 0 ? row.Size : 0)); }

  std::vector<std::string> storage_;
  std::vector<char*> pointers_;
  RunState run_{};
};

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST_F(ValueForms, EachFormFillsTheRow) {
  struct Case {
    const char* token;
    const char* keyword;
    int type;
    Bytes data;
    std::string console;  // after the value line
  };
  const Case cases[] = {
      {"BSN=123456", "BSN", 0xC0, B("123456"), ""},
      {"bsn=abc", "BSN", 0xC0, B("abc"), ""},
      {"PPN=product name", "PPN", 0xC0, B("product name"), ""},
      {"PPN=a,b", "PPN", 0xC0, B("a,b"), ""},
      {"CEX0=0x00,0x1 0x2 0x3", "CEX0", 0x00, {1, 2, 3}, ""},
      {"CEX0=0x00,0xaf 0xAF 0xff 0xFE", "CEX0", 0x00, {0xAF, 0xAF, 0xFF, 0xFE}, ""},
      {"CEX0=0xc0,ab", "CEX0", 0xC0, B("ab"), ""},
      {"CEX0=0x00,0x1,0x2,0x3", "CEX0", 0x00, {1, 2, 3}, ""},
      {"BSN=0x41 0x42", "BSN", 0xC0, {0x41, 0x42}, ""},
      {"CEX0=0x40,12", "CEX0", 0x40, B("12"), ""},
      {"CEX0=0x41,abc", "CEX0", 0xC0, B("0x41,abc"), "\"abc\" - Hex value not started with 0x\n"},
      {"BSN=0x4G", "BSN", 0xC0, B("0x4G"), ""},
      {"BSN=0x41 0x4G", "BSN", 0xC0, B("0x41 0x4G"), "\"0x4G\" - cannot convert to integer\n"},
      {"BSN=0X41", "BSN", 0xC0, B("0X41"), ""},
      {"BSN=0xC0,abc", "BSN", 0xC0, B("abc"), ""},
      {"CEX1=64,ab", "CEX1", 0x40, B("ab"), ""},
      {"CEX1=,ab", "CEX1", 0x00, B("ab"), ""},
      {"BSN=0x141 0x42", "BSN", 0xC0, {0x41, 0x42}, ""},
      {"CMF=Acme Inc", "CEX0", 0xC0, B("Acme Inc"), ""},
  };
  for (const Case& c : cases) {
    SetUp();
    ASSERT_EQ(Walk({c.token}), FieldWalkResult::Completed) << c.token;
    const FieldEntry& row = RowByKeyword(gFieldCatalogue, c.keyword);
    EXPECT_EQ(row.Type, c.type) << c.token;
    EXPECT_EQ(Value(row), c.data) << c.token;
    EXPECT_TRUE(run_.fieldsGiven);
    std::string console = TakeConsole();
    EXPECT_EQ(console.substr(0, c.console.size()), c.console) << c.token;
    EXPECT_NE(console.find(std::string(row.Name) + ": "), std::string::npos) << "value line of " << c.token;
  }
}

TEST_F(ValueForms, TheValueLineShowsTheRowAtOnce) {
  Walk({"BSN=123456"});
  EXPECT_EQ(TakeConsole(), "       Board Serial Number: \"123456\" (6 bytes)\n");
}

TEST_F(ValueForms, AnEmptyValueErasesWithoutAValueLine) {
  for (const char* token : {"BSN=", "BSN= , ,"}) {
    SetUp();
    EXPECT_EQ(Walk({token}), FieldWalkResult::Completed);
    EXPECT_EQ(RowByKeyword(gFieldCatalogue, "BSN").Size, 0) << token;
    EXPECT_EQ(RowByKeyword(gFieldCatalogue, "BSN").Type, 0xC0);
    EXPECT_TRUE(run_.fieldsGiven);
    EXPECT_EQ(TakeConsole(), "");
  }
}

TEST_F(ValueForms, ValuesOver63BytesAreShownThenRefused) {
  const std::string sixtyThree(63, 'a');
  const std::string sixtyFour(64, 'b');
  EXPECT_EQ(Walk({("BSN=" + sixtyThree).c_str()}), FieldWalkResult::Completed);
  TakeConsole();

  SetUp();
  EXPECT_EQ(Walk({("BSN=" + sixtyFour).c_str(), "PSN=1x"}), FieldWalkResult::Failed);
  EXPECT_EQ(TakeConsole(), "       Board Serial Number: \"" + sixtyFour +
                               "\" (64 bytes)\n[ERROR] Parameter size > 63 bytes\n");
  EXPECT_EQ(RowByKeyword(gFieldCatalogue, "PSN").Size, -1);  // the walk ended

  SetUp();
  std::string words = "BSN=";
  for (int i = 0; i < 64; ++i) words += "0x30 ";
  EXPECT_EQ(Walk({words.c_str()}), FieldWalkResult::Failed);
  EXPECT_NE(TakeConsole().find("(64 bytes)\n[ERROR] Parameter size > 63 bytes\n"),
            std::string::npos);
}

TEST_F(ValueForms, ValuesThatCannotFitTheBufferAreRefusedBeforeTheyAreStored) {
  const std::string longText(256, 'c');
  std::string manyWords = "BSN=";
  for (int i = 0; i < 300; ++i) manyWords += "0x1,";
  for (const std::string& token : {"BSN=" + longText, manyWords}) {
    SetUp();
    EXPECT_EQ(Walk({token.c_str()}), FieldWalkResult::Failed);
    EXPECT_EQ(TakeConsole(), "[ERROR] Parameter size > 63 bytes\n");
    EXPECT_EQ(RowByKeyword(gFieldCatalogue, "BSN").Size, -1);
    EXPECT_EQ(RowByKeyword(gFieldCatalogue, "BSN").Data[0], 0);
  }
  SetUp();
  EXPECT_EQ(Walk({("BSN=" + std::string(255, 'd')).c_str()}), FieldWalkResult::Failed);
  EXPECT_NE(TakeConsole().find("(255 bytes)\n[ERROR] Parameter size > 63 bytes\n"), std::string::npos);
}

TEST_F(ValueForms, AOneCharacterTextIsRefusedAndOtherOneByteValuesAreNot) {
  for (const char* token : {"BSN=X", "BSN=0x141", "BSN=0xC0,Z"}) {
    SetUp();
    EXPECT_EQ(Walk({token}), FieldWalkResult::Failed) << token;
    std::string console = TakeConsole();
    EXPECT_NE(console.find(" (1 bytes)\n[ERROR] BSN: a one-character text field cannot be stored"), std::string::npos)
        << console;
    EXPECT_EQ(console.find("Return code"), std::string::npos);  // the driver ends the run
  }
  for (const char* token : {"BSN=0x00,0x41", "BSN=0x80,A", "BSN=0x40,0x01"}) {
    SetUp();
    EXPECT_EQ(Walk({token}), FieldWalkResult::Completed) << token;
    EXPECT_EQ(RowByKeyword(gFieldCatalogue, "BSN").Size, 1);
  }
}

TEST_F(ValueForms, TheWalkFollowsTheCatalogueAndTheFirstToken) {
  EXPECT_EQ(Walk({"PSN=p1", "BSN=1x", "BSN=2x", "CEX0=abc", "CMF=xyz", "PPN=BSN500"}), FieldWalkResult::Completed);
  EXPECT_EQ(TakeConsole(),
            "            Chassis Extra0: \"abc\" (3 bytes)\n"
            "       Board Serial Number: \"1x\" (2 bytes)\n"
            "              Product Name: \"BSN500\" (6 bytes)\n"
            "     Product Serial Number: \"p1\" (2 bytes)\n");
}

class Scanner : public ValueForms {
 protected:
  void Type(const std::string& text) {
    input_ = text;
    HostConsoleSetInput(&input_);
  }
  std::string input_;
};

TEST_F(Scanner, TwoEqualScansAreTakenAsTheValue) {
  Type("12345\n12345\n");
  EXPECT_EQ(Walk({"BSN"}), FieldWalkResult::Completed);
  EXPECT_EQ(TakeConsole(),
            "Input  (Board Serial Number) with BAR code scanner [trial 1]:\n\n"
            "Input  (Board Serial Number) with BAR code scanner [trial 2]:\n\n"
            "!!!12345\n"
            "       Board Serial Number: \"12345\" (5 bytes)\n");
  EXPECT_EQ(Value(RowByKeyword(gFieldCatalogue, "BSN")), B("12345"));
  EXPECT_TRUE(run_.fieldsGiven);
  EXPECT_FALSE(run_.missedCount > 0);
}

TEST_F(Scanner, OnlyTwoEqualNonEmptyScansAgree) {
  for (const char* typed : {"12345 1234X", "123 12345", "12345 123", "12345", ""}) {
    SetUp();
    Type(typed);
    EXPECT_EQ(Walk({"CSN=1x", "BSN", "PSN"}), FieldWalkResult::Mismatch) << typed;
    std::string console = TakeConsole();
    EXPECT_EQ(console.substr(console.size() - 35), "[ERROR] Input data are not matched\n") << typed;
    EXPECT_EQ(RowByKeyword(gFieldCatalogue, "BSN").Size, -1);
    EXPECT_EQ(RowByKeyword(gFieldCatalogue, "PSN").Size, -1);   // not looked at
    EXPECT_EQ(Value(RowByKeyword(gFieldCatalogue, "CSN")), B("1x"));  // taken before: still written
    EXPECT_TRUE(run_.fieldsGiven);
    EXPECT_TRUE(run_.missedCount > 0);
  }
}

TEST_F(Scanner, PromptsFollowTheCatalogueAndNameTheRowEvenThroughAnAlias) {
  Type("p1 p1 b1 b1 c1 c1 m1 m1");
  EXPECT_EQ(Walk({"BSN", "PSN", "CSN", "CMF"}), FieldWalkResult::Completed);
  std::string console = TakeConsole();
  size_t c = console.find("(Chassis Serial Number)");
  size_t m = console.find("(Chassis Extra0)");
  size_t b = console.find("(Board Serial Number)");
  size_t p = console.find("(Product Serial Number)");
  EXPECT_TRUE(c < m && m < b && b < p) << console;
  EXPECT_EQ(Value(RowByKeyword(gFieldCatalogue, "CSN")), B("p1"));  // the first scans go to the first row
  EXPECT_EQ(Value(RowByKeyword(gFieldCatalogue, "PSN")), B("m1"));
}

TEST_F(Scanner, AScannedValueTakesTheValueFormsAndTheSizeLimit) {
  Type("0x00,0x41 0x00,0x41");
  EXPECT_EQ(Walk({"BSN"}), FieldWalkResult::Completed);
  EXPECT_EQ(RowByKeyword(gFieldCatalogue, "BSN").Type, 0x00);
  EXPECT_EQ(Value(RowByKeyword(gFieldCatalogue, "BSN")), (Bytes{0x41}));

  SetUp();
  const std::string long64(64, 'L');
  Type(long64 + "\n" + long64 + "\n");
  EXPECT_EQ(Walk({"BSN"}), FieldWalkResult::Failed);
  EXPECT_NE(TakeConsole().find("!!!" + long64 + "\n       Board Serial Number: \"" + long64 +
                               "\" (64 bytes)\n[ERROR] Parameter size > 63 bytes\n"),
            std::string::npos);

  SetUp();
  const std::string long300(300, 'Q');
  Type(long300 + " " + long300);  // cut to 255 bytes, then refused as too long
  EXPECT_EQ(Walk({"BSN"}), FieldWalkResult::Failed);
  EXPECT_NE(TakeConsole().find("(255 bytes)\n[ERROR] Parameter size > 63 bytes\n"), std::string::npos);
}

TEST_F(ValueForms, NoRowNamedLeavesListingMode) {
  EXPECT_EQ(Walk({"ID=0", "-v", "ACME"}), FieldWalkResult::Completed);
  EXPECT_FALSE(run_.fieldsGiven);
  EXPECT_EQ(TakeConsole(), "");
}

}  // namespace
