// Entry lookup, the display forms of a row, the listing and the hex dump.
#include <gtest/gtest.h>

#include "fru/fru_date.h"
#include "fru/fru_display.h"
#include "fru/fru_entry.h"
#include "fru_test_support.h"

namespace {

class FruDisplay : public FruTest {};

FieldEntry MakeRow(uint8_t area, uint8_t entry, const char* name, Bytes data, uint8_t type) {
  FieldEntry row{};
  row.Area = area;
  row.Entry = entry;
  row.Name = name;
  row.Type = type;
  row.Size = static_cast<int32_t>(data.size());
  std::copy(data.begin(), data.end(), row.Data);
  return row;
}

TEST_F(FruDisplay, ShowFieldPrintsEachDisplayForm) {
  struct Case {
    FieldEntry row;
    std::string expected;
  };
  const Case cases[] = {
      {MakeRow(2, 2, "Board Manufacturer", {'A', 'c', 'm', 'e', 'X'}, 0xC0),
       "        Board Manufacturer: \"AcmeX\" (5 bytes)\n"},
      {MakeRow(2, 4, "Board Serial Number", {0x01, 0x9C}, 0x00),
       "       Board Serial Number: 01 9c  (2 bytes)\n"},
      {MakeRow(1, 0, "Chassis Type", {0x17}, 0xC0), "              Chassis Type: 23\n"},
      {MakeRow(1, 0, "Chassis Type", {0x80}, 0x00), "              Chassis Type: 128\n"},
      {MakeRow(2, 1, "Mfg. Date/Time", {0x00, 0x00, 0x00}, 0xC0),
       "            Mfg. Date/Time: 1996/1/1 (0x00 0x00 0x00)\n"},
      {MakeRow(2, 1, "Mfg. Date/Time", {0x60, 0x0B, 0x00}, 0xC0),
       "            Mfg. Date/Time: 1996/1/3 (0x60 0x0b 0x00)\n"},
      {MakeRow(3, 5, "Product Serial Number", {0x01, 0x0A, 0x0B, 0x0C, 0x09}, 0x40),
       "     Product Serial Number: \"1 -.9\" (5 bytes)\n"},
      {MakeRow(3, 5, "Product Serial Number", {'a', 'b', 0x00, 'c'}, 0x80),
       "     Product Serial Number: \"ab\" (4 bytes)\n"},
      {MakeRow(3, 8, "A Name Longer Than 25 Columns", {'x', 'y'}, 0xC0),
       " A Name Longer Than 25 Columns: \"xy\" (2 bytes)\n"},
  };
  for (const Case& c : cases) {
    ShowField(c.row);
    EXPECT_EQ(TakeConsole(), c.expected);
  }
  // A BCD plus byte outside the digit set shows as a character of code 0.
  ShowField(MakeRow(3, 5, "PSN", {0x0F}, 0x40));
  EXPECT_EQ(TakeConsole(), std::string("                       PSN: \"") + '\0' + "\" (1 bytes)\n");
}

TEST_F(FruDisplay, DatesStepDayByDayThroughLeapYears) {
  struct Case {
    uint32_t days;
    FruDate date;
  };
  const Case cases[] = {
      {0, {1996, 1, 1}},   {2, {1996, 1, 3}},     {59, {1996, 2, 29}},   {60, {1996, 3, 1}},
      {365, {1996, 12, 31}}, {366, {1997, 1, 1}}, {424, {1997, 2, 28}}, {425, {1997, 3, 1}},   {731, {1998, 1, 1}},
      {1520, {2000, 2, 29}}, {11650, {2027, 11, 24}},
  };
  for (const Case& c : cases) {
    FruDate d = FruDateFromMinutes(c.days * 1440 + 1439);
    EXPECT_EQ(d.year, c.date.year) << c.days;
    EXPECT_EQ(d.month, c.date.month) << c.days;
    EXPECT_EQ(d.day, c.date.day) << c.days;
  }
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_TRUE(IsLeapYear(1996));
  EXPECT_FALSE(IsLeapYear(1997));
}

TEST_F(FruDisplay, DumpHexOverZeroTwentyAnd256Bytes) {
  DumpHex(nullptr, 0);
  EXPECT_EQ(TakeConsole(), "         00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\t0123456789ABCDEF\n");

  Bytes bytes;
  for (int i = 0; i < 20; ++i) bytes.push_back(static_cast<uint8_t>(0x30 + i));
  bytes[1] = 0x7F;
  bytes[2] = 0x1F;
  DumpHex(bytes.data(), bytes.size());
  EXPECT_EQ(TakeConsole(),
            "   00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\t0123456789ABCDEF\n"
            "00 30 7f 1f 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f\t0..3456789:;<=>?\n"
            "10 40 41 42 43                        \t@ABC            \n");

  Bytes big(256, 0x41);
  DumpHex(big.data(), big.size());
  std::string out = TakeConsole();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 17);
  EXPECT_NE(out.find("\nF0 41 41"), std::string::npos);
  EXPECT_EQ(out.substr(0, 5), "   00");

  Bytes seventeen(17, 0x00);
  DumpHex(seventeen.data(), seventeen.size());
  out = TakeConsole();
  EXPECT_NE(out.find("\n10 00" + std::string(30, ' ') + "\t.               \n"), std::string::npos);
}

TEST_F(FruDisplay, GetFruEntryFindsFixedAndTypeLengthFields) {
  // Board area: language 0x19, date 01 02 03, manufacturer "Ab", product name empty, then the end.
  const Bytes board = InfoArea({{0x19, 0x01, 0x02, 0x03}, Text("Ab"), Text("")});
  int32_t size = -5;
  uint8_t type = 0x77;
  const uint8_t* data = GetFruEntry(2, 1, board.data(), board.size() - 1, &size, &type);
  ASSERT_EQ(data, board.data() + 3);
  EXPECT_EQ(size, 3);
  EXPECT_EQ(type, 0x77);  // a fixed field leaves the type alone
  data = GetFruEntry(2, 2, board.data(), board.size() - 1, &size, &type);
  ASSERT_EQ(data, board.data() + 7);
  EXPECT_EQ(size, 2);
  EXPECT_EQ(type, 0xC0);
  data = GetFruEntry(2, 3, board.data(), board.size() - 1, &size, &type);
  ASSERT_EQ(data, board.data() + 10);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(GetFruEntry(2, 4, board.data(), board.size() - 1, &size, &type), nullptr);
  EXPECT_EQ(GetFruEntry(2, 15, board.data(), board.size() - 1, &size, &type), nullptr);

  // An area holding only its fixed fields and the end marker.
  const Bytes chassis = InfoArea({{0x17}});
  EXPECT_NE(GetFruEntry(1, 0, chassis.data(), chassis.size() - 1, &size, &type), nullptr);
  EXPECT_EQ(GetFruEntry(1, 1, chassis.data(), chassis.size() - 1, &size, &type), nullptr);
}

TEST_F(FruDisplay, GetFruEntryNeverReadsPastTheArea) {
  // No end marker: fields run into the checksum; a field whose length
  // reaches past the area is not returned.
  Bytes area{0x01, 0x01, 0x01, 0xC2, 'a', 'b', 0xC5, 0x00};
  int32_t size = 0;
  uint8_t type = 0;
  EXPECT_NE(GetFruEntry(1, 1, area.data(), area.size() - 1, &size, &type), nullptr);
  EXPECT_EQ(GetFruEntry(1, 2, area.data(), area.size() - 1, &size, &type), nullptr);
  EXPECT_EQ(GetFruEntry(1, 3, area.data(), area.size() - 1, &size, &type), nullptr);
  EXPECT_EQ(GetFruEntry(1, 0, area.data(), 1, &size, &type), nullptr);
}

TEST_F(FruDisplay, ShowFruListsWhatTheImageHolds) {
  const Bytes image = Image(64, {0, 1, 3, 0, 0},
                            {{1, InfoArea({{0x17}, Text(""), Text("CS1")})},
                             {3, InfoArea({{0x00, 0x60, 0x0B, 0x00}, Text("Acme"), Text(""), Text("SN42"),
                                           Text(""), {0x02, 0x01, 0x9C}})}});
  ShowFru(image.data(), image.size(), gFieldCatalogue.rows, FIELD_COUNT);
  EXPECT_EQ(TakeConsole(),
            "              Chassis Type: 23\n"
            "     Chassis Serial Number: \"CS1\" (3 bytes)\n"
            "            Mfg. Date/Time: 1996/1/3 (0x60 0x0b 0x00)\n"
            "        Board Manufacturer: \"Acme\" (4 bytes)\n"
            "       Board Serial Number: \"SN42\" (4 bytes)\n"
            "         Board FRU File ID: 01 9c  (2 bytes)\n");
  EXPECT_EQ(RowByKeyword(gFieldCatalogue, "CPN").Size, 0);   // exists, empty: loaded, not shown
  EXPECT_EQ(RowByKeyword(gFieldCatalogue, "CEX0").Size, -1);  // missing: left alone
  EXPECT_EQ(RowByKeyword(gFieldCatalogue, "PSN").Size, -1);
}

TEST_F(FruDisplay, VerboseListingTracesMissingAndFoundEntries) {
  gVerbose = 1;
  const Bytes image = Image(32, {0, 1, 0, 0, 0}, {{1, InfoArea({{0x01}, Text(""), Text("Z9")})}});
  ShowFru(image.data(), image.size(), gFieldCatalogue.rows, 4);
  EXPECT_EQ(TakeConsole(),
            "Area=1 Entry=0 (CTY), size=1\n"
            "              Chassis Type: 1\n"
            "Area=1 Entry=2 (CSN), size=2\n"
            "     Chassis Serial Number: \"Z9\" (2 bytes)\n"
            "Area=1 Entry=3 (CEX0) not found\n");
}

TEST_F(FruDisplay, TheListingShowsOnlySafeEntriesOfADamagedArea) {
  // Product area whose length byte claims 10 units in a 40-byte image.
  Bytes image = Image(40, {0, 0, 0, 1, 0}, {{1, InfoArea({{0x00}, Text("Mk"), Text("P1")})}});
  image[9] = 10;
  ShowFru(image.data(), image.size(), gFieldCatalogue.rows, FIELD_COUNT);
  EXPECT_EQ(TakeConsole(),
            "      Product Manufacturer: \"Mk\" (2 bytes)\n"
            "              Product Name: \"P1\" (2 bytes)\n");
}

TEST_F(FruDisplay, ADamagedAreaListsEveryFieldThatLiesWholeInTheBytesRead) {
  // A 352-byte inventory whose product area starts at 272 with length byte 11
  // (it would end at 360). Its last field is the asset tag at 337: a 14-byte
  // text ends at the inventory's last byte and is whole; 13 bytes end one
  // earlier; 15 bytes would need a byte that was never read.
  for (size_t length : {13u, 14u, 15u}) {
    Bytes area{0x01, 11, 0x00};
    for (const Bytes& field : {Text("Acme"), Text(std::string(20, 'N')), Text("PM-0000001"), Text("1.0"),
                               Text(std::string(20, 'S')), Text(std::string(length, 'T'))}) {
      area.insert(area.end(), field.begin(), field.end());
    }
    ASSERT_EQ(area.size() - 1 - length, 337u - 272u);
    area.resize(80, 0xC1);  // cut at the inventory's end; a shorter tag is followed by the end marker
    Bytes image = Image(352, {0, 0, 0, 34, 0}, {{34, area}});
    ShowFru(image.data(), image.size(), gFieldCatalogue.rows, FIELD_COUNT);
    std::string expected =
        "      Product Manufacturer: \"Acme\" (4 bytes)\n"
        "              Product Name: \"NNNNNNNNNNNNNNNNNNNN\" (20 bytes)\n"
        "        Product Part/Model: \"PM-0000001\" (10 bytes)\n"
        "           Product Version: \"1.0\" (3 bytes)\n"
        "     Product Serial Number: \"SSSSSSSSSSSSSSSSSSSS\" (20 bytes)\n";
    if (length <= 14) {
      expected += "         Product Asset Tag: \"" + std::string(length, 'T') + "\" (" + std::to_string(length) +
                  " bytes)\n";
    }
    EXPECT_EQ(TakeConsole(), expected) << length;
    ResetFieldCatalogue();
  }
}

TEST_F(FruDisplay, FieldsOf32To63BytesAreListedWhole) {
  const std::string part(32, 'P');
  const std::string serial(63, 'S');
  const Bytes image = Image(256, {0, 0, 0, 1, 0},
                            {{1, InfoArea({{0x00}, Text(""), Text(""), Text(part), Text(""), Text(serial)})}});
  ShowFru(image.data(), image.size(), gFieldCatalogue.rows, FIELD_COUNT);
  EXPECT_EQ(TakeConsole(), "        Product Part/Model: \"" + part + "\" (32 bytes)\n"
                           "     Product Serial Number: \"" + serial + "\" (63 bytes)\n");
}

}  // namespace
