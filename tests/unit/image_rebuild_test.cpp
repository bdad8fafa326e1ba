// The rebuild, byte for byte against images laid out by hand.
#include <memory>
#include <gtest/gtest.h>

#include "fru/fru_format.h"
#include "fru/image_rebuild.h"
#include "fru_test_support.h"

namespace {

const Bytes FRU_EMPTY_BOARD{0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xC0,
                        0xC0, 0xC0, 0x00, 0xC1, 0x00, 0x00, 0x00, 0x3C};
const Bytes FRU_EMPTY_PRODUCT{0x01, 0x02, 0x00, 0xC0, 0xC0, 0xC0, 0xC0, 0xC0,
                          0xC0, 0x00, 0xC1, 0x00, 0x00, 0x00, 0x00, 0xBC};
const Bytes kNoDate{0x00, 0x00, 0x00, 0x00};  // language and date/time of a board area

struct Field {
  const char* keyword;
  std::string text;  // empty: erase
};

class ImageRebuild : public FruTest {
 protected:
  std::unique_ptr<FruRebuildWork> work_ = std::make_unique<FruRebuildWork>();
  // Runs the edit on a copy of image with inventory size n; the new image is in result_.
  FruEditResult Edit(const Bytes& image, size_t n, std::initializer_list<Field> fields) {
    for (const Field& f : fields) SetText(RowByKeyword(gFieldCatalogue, f.keyword), f.text);
    working_.assign(FRU_IMAGE_MAX, 0);
    std::copy(image.begin(), image.end(), working_.begin());
    newImage_.assign(FRU_IMAGE_MAX, 0xEE);
    FruEditResult r = EditFruImage(working_.data(), n, gFieldCatalogue.rows, FIELD_COUNT, newImage_.data(), *work_);
    result_.assign(newImage_.begin(), newImage_.begin() + (r.newSize <= FRU_IMAGE_MAX ? r.newSize : 0));
    return r;
  }

  // The ready image, checked for zero checksums in its header and every info
  // area, and decoded by FreeIPMI without an error and with the given lines.
  Bytes Ready(const FruEditResult& r, std::initializer_list<std::string> peerLines = {}) {
    EXPECT_EQ(r.outcome, FruEditOutcome::ImageReady);
    EXPECT_EQ(ZeroChecksum(result_, 8), 0) << "header checksum";
    for (int area = 1; area <= 3; ++area) {
      size_t start = result_.size() > 8 ? result_[1 + area] * 8u : 0;
      if (start == 0) continue;
      Bytes bytes(result_.begin() + start, result_.begin() + start + result_.at(start + 1) * 8);
      EXPECT_EQ(ZeroChecksum(bytes, bytes.size()), 0) << "area " << area;
    }
    const std::string decoded = DecodeWithIpmiFru(result_);
    EXPECT_NE(decoded.find("FRU Inventory From File"), std::string::npos) << "ipmi-fru did not run: " << decoded;
    EXPECT_EQ(decoded.find("FRU Error"), std::string::npos) << decoded;
    for (const std::string& line : peerLines) EXPECT_NE(decoded.find("  " + line + "\n"), std::string::npos) << line << "\n" << decoded;
    return result_;
  }

  Bytes working_;
  Bytes newImage_;
  Bytes result_;
};

// The Board Info Area with BSN=123456 set into the empty one: 3 units.
Bytes BoardWithSerial() { return InfoArea({kNoDate, Text(""), Text(""), Text("123456"), Text(""), {0x00}}); }
Bytes ProductWithName() {
  return InfoArea({{0x00}, Text(""), Text("Widget"), Text(""), Text(""), Text(""), Text(""), {0x00}});
}

TEST_F(ImageRebuild, SettingTheBoardSerialMovesTheProductAreaAndItsOffset) {
  const Bytes before = Image(128, {0, 0, 1, 3, 0}, {{1, FRU_EMPTY_BOARD}, {3, ProductWithName()}});
  FruEditResult r = Edit(before, 128, {{"BSN", "123456"}});
  const Bytes expected = Image(56, {0, 0, 1, 4, 0}, {{1, BoardWithSerial()}, {4, ProductWithName()}});
  EXPECT_EQ(Ready(r, {"FRU Board Serial Number: 123456", "FRU Product Name: Widget"}), expected);
  EXPECT_EQ(BoardWithSerial(), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xC0, 0xC6, '1', '2', '3',
                                      '4', '5', '6', 0xC0, 0x00, 0xC1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(TakeConsole().find("NewFru result: Size=56\n"), 0u);
}

TEST_F(ImageRebuild, AreasAreWrittenBackInAreaOrder) {
  const Bytes before = Image(128, {0, 0, 4, 1, 0}, {{1, ProductWithName()}, {4, FRU_EMPTY_BOARD}});
  FruEditResult r = Edit(before, 128, {{"BSN", "123456"}});
  EXPECT_EQ(Ready(r), Image(56, {0, 0, 1, 4, 0}, {{1, BoardWithSerial()}, {4, ProductWithName()}}));
}

TEST_F(ImageRebuild, AnInvalidHeaderOnABlankFruLeavesOnlyTheAreaThatIsSet) {
  const Bytes product =
      InfoArea({{0x00}, Text(""), Text(""), Text(""), Text(""), Text("abc"), Text(""), {0x00}});
  EXPECT_EQ(product.size(), 16u);
  for (uint8_t blank : {0x00, 0xFF}) {
    SetUp();
    FruEditResult r = Edit(Bytes(64, blank), 64, {{"PSN", "abc"}});
    EXPECT_EQ(Ready(r, {"FRU Product Serial Number: abc"}), Image(24, {0, 0, 0, 1, 0}, {{1, product}}));
    EXPECT_EQ(TakeConsole().substr(0, 34), "Common header invalid, rebuild...\n");
  }
  SetUp();
  Bytes holdsData = Image(64, {0, 0, 1, 3, 0}, {{1, FRU_EMPTY_BOARD}, {3, FRU_EMPTY_PRODUCT}});
  holdsData[7] ^= 1;
  EXPECT_EQ(Edit(holdsData, 64, {{"PSN", "abc"}}).outcome, FruEditOutcome::Refused);
  EXPECT_EQ(TakeConsole(), "[ERROR] Common header invalid on a FRU that holds data; nothing was written (list it, "
                           "and clear it with ClearFru=1 if it may go)\n");
}

TEST_F(ImageRebuild, AChassisAreaIsBuiltWhenTheImageHasNone) {
  struct Case {
    std::string serial;
    size_t chassisSize;
  };
  for (const Case& c : {Case{"AB", 16}, Case{"ABCDEFGH", 16}, Case{"ABCDEFGHI", 24},
                        Case{"ABCDEFGHIJKLMNOP", 24}, Case{"ABCDEFGHIJKLMNOPQ", 32}}) {
    SetUp();
    FruEditResult r = Edit(Image(64, {0, 0, 1, 0, 0}, {{1, FRU_EMPTY_BOARD}}), 64, {{"CSN", c.serial}});
    const Bytes chassis = InfoArea({{0x01}, Text(""), Text(c.serial), Text("")});
    ASSERT_EQ(chassis.size(), c.chassisSize) << c.serial;
    const int boardUnit = 1 + static_cast<int>(c.chassisSize / 8);
    EXPECT_EQ(Ready(r, {"FRU Chassis Serial Number: " + c.serial}), Image(8 + c.chassisSize + 16, {0, 1, boardUnit, 0, 0}, {{1, chassis}, {boardUnit, FRU_EMPTY_BOARD}}))
        << c.serial;
  }
}

TEST_F(ImageRebuild, ErasingCustomFieldsKeepsTheEntryNumbersOfTheOthers) {
  const Bytes board = InfoArea(
      {kNoDate, Text("Mk"), Text(""), Text("S1"), Text(""), {0x00}, Text("x1"), Text("x2"), Text("x3")});
  const Bytes before = Image(64, {0, 0, 1, 0, 0}, {{1, board}});
  struct Case {
    const char* keyword;
    Bytes expectedBoard;
  };
  const Case cases[] = {
      {"BEX1", InfoArea({kNoDate, Text("Mk"), Text(""), Text("S1"), Text(""), {0x00}, Text("x1"), Text(""),
                         Text("x3")})},
      {"BEX2", InfoArea({kNoDate, Text("Mk"), Text(""), Text("S1"), Text(""), {0x00}, Text("x1"), Text("x2")})},
      {"BSN", InfoArea({kNoDate, Text("Mk"), Text(""), Text(""), Text(""), {0x00}, Text("x1"), Text("x2"),
                        Text("x3")})},
  };
  for (const Case& c : cases) {
    SetUp();
    FruEditResult r = Edit(before, 64, {{c.keyword, ""}});
    EXPECT_EQ(Ready(r), Image(8 + c.expectedBoard.size(), {0, 0, 1, 0, 0}, {{1, c.expectedBoard}})) << c.keyword;
  }
}

TEST_F(ImageRebuild, ACustomFieldPastTheEndPadsTheFieldsBeforeIt) {
  FruEditResult r = Edit(Image(32, {0, 0, 1, 0, 0}, {{1, FRU_EMPTY_BOARD}}), 64, {{"BEX3", "abc"}});
  const Bytes board = InfoArea(
      {kNoDate, Text(""), Text(""), Text(""), Text(""), {0x00}, Text(""), Text(""), Text(""), Text("abc")});
  EXPECT_EQ(Ready(r, {"FRU Board Custom Info: abc"}), Image(8 + board.size(), {0, 0, 1, 0, 0}, {{1, board}}));
}

TEST_F(ImageRebuild, AnImageOfExactlyTheCapacityFitsAndOneUnitMoreDoesNot) {
  const Bytes before = Image(48, {0, 0, 1, 3, 0}, {{1, FRU_EMPTY_BOARD}, {3, ProductWithName()}});
  FruEditResult fits = Edit(before, 56, {{"BSN", "123456"}});
  EXPECT_EQ(fits.outcome, FruEditOutcome::ImageReady);
  EXPECT_EQ(fits.newSize, 56u);

  SetUp();
  FruEditResult over = Edit(before, 48, {{"BSN", "123456"}});
  EXPECT_EQ(over.outcome, FruEditOutcome::OverCapacity);
  EXPECT_EQ(over.newSize, 56u);
  std::string console = TakeConsole();
  EXPECT_NE(console.find("NewFru result: Size=56\n"), std::string::npos);
  const std::string last = "[ERROR] New size is over FRU's capacity: new size=56, capacity=48\n";
  EXPECT_EQ(console.substr(console.size() - last.size()), last);
}

TEST_F(ImageRebuild, AValidMultiRecordAreaIsCarriedOverWhole) {
  // Two records with their data and header checksums: 16 data bytes, then 4 and the end of the list.
  auto record = [](uint8_t type, uint8_t format, const Bytes& data) {
    Bytes r{type, format, static_cast<uint8_t>(data.size()), ZeroChecksum(data, data.size()), 0};
    r[4] = ZeroChecksum(r, 4);
    r.insert(r.end(), data.begin(), data.end());
    return r;
  };
  Bytes records = record(0x01, 0x02, Bytes(16, 0x5A));
  const Bytes second = record(0xC0, 0x82, {0x01, 0x02, 0x03, 0x04});
  records.insert(records.end(), second.begin(), second.end());
  ASSERT_EQ(records.size(), 30u);
  const Bytes before = Image(96, {0, 0, 1, 0, 3}, {{1, FRU_EMPTY_BOARD}, {3, records}});
  FruEditResult r = Edit(before, 96, {{"BSN", "123456"}});
  EXPECT_EQ(Ready(r, {"FRU Board Serial Number: 123456"}), Image(64, {0, 0, 1, 0, 4}, {{1, BoardWithSerial()}, {4, records}}));
}

TEST_F(ImageRebuild, TwoBoardFieldsAreAppliedInTurn) {
  FruEditResult r = Edit(Image(32, {0, 0, 1, 0, 0}, {{1, FRU_EMPTY_BOARD}}), 64, {{"BSN", "123456"}, {"BMF", "Acme"}});
  const Bytes board = InfoArea({kNoDate, Text("Acme"), Text(""), Text("123456"), Text(""), {0x00}});
  EXPECT_EQ(Ready(r, {"FRU Board Manufacturer: Acme", "FRU Board Serial Number: 123456"}),
            Image(8 + board.size(), {0, 0, 1, 0, 0}, {{1, board}}));
  std::string console = TakeConsole();
  EXPECT_EQ(console.find("NewFru result"), console.rfind("NewFru result"));
}

TEST_F(ImageRebuild, AnErasureInAMissingChassisAreaProducesNothing) {
  const Bytes before = Image(32, {0, 0, 1, 0, 0}, {{1, FRU_EMPTY_BOARD}});
  FruEditResult r = Edit(before, 32, {{"CSN", ""}});
  EXPECT_EQ(r.outcome, FruEditOutcome::NothingToWrite);
  EXPECT_EQ(r.newSize, 0u);
  EXPECT_EQ(TakeConsole(),
            "NewFru result: Size=0\n"
            "         00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\t0123456789ABCDEF\n");
  EXPECT_EQ(Bytes(working_.begin(), working_.begin() + 32), before);

  // A later field still produces its image.
  SetUp();
  FruEditResult later = Edit(before, 64, {{"CSN", ""}, {"BSN", "123456"}});
  EXPECT_EQ(Ready(later), Image(32, {0, 0, 1, 0, 0}, {{1, BoardWithSerial()}}));
}

TEST_F(ImageRebuild, ADamagedAreaThatMustBeRebuiltIsRefused) {
  struct Case {
    const char* name;
    uint8_t lengthByte;
    size_t n;
  };
  for (const Case& c : {Case{"length byte 0", 0, 64}, Case{"past the end", 9, 64}}) {
    SetUp();
    Bytes before = Image(64, {0, 0, 1, 0, 0}, {{1, FRU_EMPTY_BOARD}});
    before[9] = c.lengthByte;
    FruEditResult r = Edit(before, c.n, {{"BSN", "123456"}});
    EXPECT_EQ(r.outcome, FruEditOutcome::Refused) << c.name;
    std::string console = TakeConsole();
    EXPECT_EQ(console.rfind("[ERROR] Board Info Area at offset 8 is damaged", 0), 0u) << console;
    EXPECT_EQ(console.find("NewFru"), std::string::npos);
  }
  // An area starting past the image's end is refused whichever area is edited.
  SetUp();
  FruEditResult r = Edit(Image(32, {0, 0, 1, 9, 0}, {{1, FRU_EMPTY_BOARD}}), 32, {{"BSN", "123456"}});
  EXPECT_EQ(r.outcome, FruEditOutcome::Refused);
  EXPECT_EQ(TakeConsole(), "[ERROR] Product Info Area starts at offset 72, past the end of the 32-byte FRU\n");
}

TEST_F(ImageRebuild, ADamagedAreaThatIsNotEditedIsCarriedOverVerbatim) {
  // A chassis area whose length byte is 0 is carried up to the board area.
  Bytes chassis{0x01, 0x00, 0x17, 0xC2, 'C', 'S', 0xC1, 0x00, 0x42, 0x42, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07};
  const Bytes before = Image(64, {0, 1, 3, 0, 0}, {{1, chassis}, {3, FRU_EMPTY_BOARD}});
  FruEditResult r = Edit(before, 64, {{"BSN", "123456"}});
  EXPECT_EQ(r.outcome, FruEditOutcome::ImageReady);
  EXPECT_EQ(result_, Image(48, {0, 1, 3, 0, 0}, {{1, chassis}, {3, BoardWithSerial()}}));

  // Carried up to the image's end, the area leaves no room for the board to grow.
  SetUp();
  const Bytes last = Image(48, {0, 0, 1, 3, 0}, {{1, FRU_EMPTY_BOARD}, {3, chassis}});
  EXPECT_EQ(Edit(last, 48, {{"BSN", "123456"}}).outcome, FruEditOutcome::OverCapacity);
}

TEST_F(ImageRebuild, AnUnsizedInternalUseAreaIsCarriedUpToTheNextArea) {
  Bytes internalUse(16, 0xAA);
  internalUse[0] = 0x01;
  gVerbose = 1;
  FruEditResult r = Edit(Image(48, {1, 0, 3, 0, 0}, {{1, internalUse}, {3, FRU_EMPTY_BOARD}}), 64, {{"BSN", "123456"}});
  EXPECT_EQ(r.outcome, FruEditOutcome::ImageReady);
  EXPECT_EQ(result_, Image(48, {1, 0, 3, 0, 0}, {{1, internalUse}, {3, BoardWithSerial()}}));
  EXPECT_NE(TakeConsole().find("Area=0, Internal use exists but get size error\n"), std::string::npos);
}

TEST_F(ImageRebuild, AMultiRecordAreaWithADataErrorIsCarriedUpToTheImageEnd) {
  Bytes records{0x20, 0x82, 2, 0, 0, 0x01, 0x02};  // type 0x20 is not accepted
  records.resize(24, 0x77);
  records.resize(32, 0x00);  // the image's end is the area's end
  const Bytes board = InfoArea({kNoDate, Text("Mk"), Text(""), Text("S1"), Text(""), {0x00}});
  const Bytes before = Image(64, {0, 0, 1, 0, 4}, {{1, board}, {4, records}});
  FruEditResult r = Edit(before, 64, {{"BSN", "S2"}});
  const Bytes expected =
      Image(64, {0, 0, 1, 0, 4}, {{1, InfoArea({kNoDate, Text("Mk"), Text(""), Text("S2"), Text(""), {0x00}})}, {4, records}});
  EXPECT_EQ(r.outcome, FruEditOutcome::ImageReady);
  EXPECT_EQ(result_, expected);
}

TEST_F(ImageRebuild, EntriesPastFifteenAreCarriedAfterEntryFifteen) {
  // Product entries 1 to 17: entries 16 and 17 have no catalogue row.
  const Bytes product = InfoArea({{0x00},       Text("m1"), Text("n2"), Text("p3"), Text("v4"),
                                      Text("s5"),   Text("a6"), {0x00},     Text("c8"), Text("c9"),
                                      Text("c10"),  Text(""),   Text(""),   Text(""),   Text(""),
                                      Text("c15"),  Text("e16"), Text("e17")});
  FruEditResult r = Edit(Image(8 + product.size(), {0, 0, 0, 1, 0}, {{1, product}}), 256, {{"PSN", "SN9"}});
  const Bytes expected =
      InfoArea({{0x00}, Text("m1"), Text("n2"), Text("p3"), Text("v4"), Text("SN9"), Text("a6"), {0x00}, Text("c8"),
                Text("c9"), Text("c10"), Text(""), Text(""), Text(""), Text(""), Text("c15"), Text("e16"),
                Text("e17")});
  EXPECT_EQ(Ready(r, {"FRU Product Serial Number: SN9", "FRU Product Custom Info: e17"}), Image(8 + expected.size(), {0, 0, 0, 1, 0}, {{1, expected}}));
}

TEST_F(ImageRebuild, VerboseTracesFollowEachStep) {
  gVerbose = 1;
  Edit(Image(32, {0, 0, 1, 0, 0}, {{1, FRU_EMPTY_BOARD}}), 32, {{"BSN", "123456"}});
  const std::string console = TakeConsole();
  const char* inOrder[] = {
      "FRU data to process:\n",
      "going to set:Area=2 Entry=4 (BSN), Data=0x",
      "Data Area=0 not found\nData Area=1 not found\nArea=2, size=16\nData Area=3 not found\nData Area=4 not found\n",
      "-------------------------------------------------\nSetFruEntry: Area=2 Entry=4 (BSN), Size=6, Type=0xc0\n",
      "Entries[0]: Size=1, Type=0xc0\nEntries[1]: Size=3, Type=0xc0\nEntries[2]: Size=0, Type=0xc0\n"
      "Entries[3]: Size=0, Type=0xc0\nEntries[4]: Size=6, Type=0xc0\nEntries[5]: Size=0, Type=0xc0\n"
      "Entries[6]: Size=0, Type=0x00\n",
      "Area=2 result, InfoSize = 24\n01 03 00 00 00 00 c0 c0 c6 31 32 33 34 35 36 c0 00 c1 00 00 00 00 00 00 \n"
      "-------------------------------------------------\n",
      "NewFruSize: 32\n",
      "NewFru result: Size=32\n",
  };
  size_t at = 0;
  for (const char* piece : inOrder) {
    size_t found = console.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << piece << "\n" << console;
    at = found + 1;
  }
  EXPECT_EQ(console.find("Entries[7]"), std::string::npos);
}

TEST_F(ImageRebuild, TheLastAreaMayStartAtUnit255AndNotAt256) {
  // A 2000-byte internal use area, then chassis, board and a one-record
  // MultiRecord area: with a board of two units the MultiRecord area starts
  // at unit 255, the last offset a header byte holds; a board of three units
  // would move it to 256.
  Bytes internalUse(2000, 0x5A);
  internalUse[0] = 0x01;
  const Bytes chassis = InfoArea({{0x17}, Text(""), Text("CS-1"), Text("")});
  const Bytes board = InfoArea({{0x00, 0x00, 0x00, 0x00}, Text(""), Text(""), Text("S1"), Text(""), {0x00}});
  ASSERT_EQ(chassis.size(), 16u);
  ASSERT_EQ(board.size(), 16u);
  const Bytes before = Image(2048, {1, 251, 253, 0, 255},
                             {{1, internalUse}, {251, chassis}, {253, board}, {255, MultiRecords(8)}});
  FruEditResult fits = Edit(before, 2048, {{"BSN", "S2"}});
  ASSERT_EQ(fits.outcome, FruEditOutcome::ImageReady) << TakeConsole();
  EXPECT_EQ(result_.size(), 2048u);
  EXPECT_EQ(result_[5], 255);  // the MultiRecord offset byte
  TakeConsole();

  SetUp();
  FruEditResult moved = Edit(before, 2048, {{"BSN", "S23456789"}});
  EXPECT_EQ(moved.outcome, FruEditOutcome::OverCapacity);
  EXPECT_EQ(TakeConsole(),
            "[ERROR] The new FRU would need an area offset above 255 units of 8 bytes\n"
            "NewFru result: Size=2056\n"
            "         00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\t0123456789ABCDEF\n"
            "[ERROR] New size is over FRU's capacity: new size=2056, capacity=2048\n");
}

}  // namespace
