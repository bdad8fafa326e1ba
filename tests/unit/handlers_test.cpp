// The manufacturing date, chassis type and board product name handlers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fields/field_handlers.h"
#include "fru/fru_date.h"
#include "fields/smbios.h"
#include "fru/fru_display.h"
#include "fru_test_support.h"
#include "smbios_bytes.h"

namespace {

class Handlers : public FruTest {
 protected:
  FieldEntry& Bdt() { return RowByKeyword(gFieldCatalogue, "BDT"); }
  static Bytes Stored(const FieldEntry& row) { return Bytes(row.Data, row.Data + (row.Size > 0 ? row.Size : 0)); }
};

TEST_F(Handlers, TypedDatesAreCheckedAndStoredAsMinutes) {
  struct Case {
    const char* rest;
    int32_t result;
    Bytes stored;
    std::string console;
  };
  const std::string invalid = "[ERROR] Mfg Date/Time invalid\n";
  const Case cases[] = {
      {"=2018/1/1", 0, {0x80, 0x92, 0xB0}, "Mfg date/time: 2018/1/1\n"},
      {"=2018/01/01", 0, {0x80, 0x92, 0xB0}, "Mfg date/time: 2018/1/1\n"},
      {"=2018/1/1x", 0, {0x80, 0x92, 0xB0}, "Mfg date/time: 2018/1/1\n"},
      {"=1996/1/1", 0, {0x00, 0x00, 0x00}, "Mfg date/time: 1996/1/1\n"},
      {"=2000/3/1", 0, {0xA0, 0x6B, 0x21}, "Mfg date/time: 2000/3/1\n"},  // 2,190,240 minutes
      {"=2027/11/24", 0, {0x40, 0xFB, 0xFF}, "Mfg date/time: 2027/11/24\n"},  // 16,776,000
      {"=2000/2/29", 0, {0x00, 0x66, 0x21}, "Mfg date/time: 2000/2/29\n"},
      {"=2024/2/29", 0, {0xC0, 0x02, 0xE2}, "Mfg date/time: 2024/2/29\n"},
      {"=", 0, {0x00, 0x00, 0x00}, ""},
      {"=1995/12/31", 1, {}, "Mfg date/time: 1995/12/31\nThe year must be greater than or equal to 1996.\n" + invalid},
      {"=2027/11/25", 1, {}, "Mfg date/time: 2027/11/25\nThe date must be less than or equal to 2027/11/24.\n" + invalid},
      {"=2027/12/1", 1, {}, "Mfg date/time: 2027/12/1\nThe date must be less than or equal to 2027/11/24.\n" + invalid},
      {"=2028/1/1", 1, {}, "Mfg date/time: 2028/1/1\nThe date must be less than or equal to 2027/11/24.\n" + invalid},
      {"=2027/11/31", 1, {}, "Mfg date/time: 2027/11/31\nThe date must be less than or equal to 2027/11/24.\n" + invalid},
      {"=2019/2/29", 1, {}, "Mfg date/time: 2019/2/29\nNot leap year.\nYYYY/MM/DD is not correct.\n" + invalid},
      {"=2100/2/29", 1, {}, "Mfg date/time: 2100/2/29\nThe date must be less than or equal to 2027/11/24.\n" + invalid},
      {"=2018/4/31", 1, {}, "Mfg date/time: 2018/4/31\nYYYY/MM/DD is not correct.\n" + invalid},
      {"=2018/13/1", 1, {}, "Mfg date/time: 2018/13/1\nYYYY/MM/DD is not correct.\n" + invalid},
      {"=2018/-1/5", 1, {}, "Mfg date/time: 2018/-1/5\nYYYY/MM/DD is not correct.\n" + invalid},
      {"=2018/0/5", 1, {}, invalid},
      {"=0/1/1", 1, {}, invalid},
      {"=2018", 1, {}, invalid},
      {"=2018/5", 1, {}, invalid},
      {"=99999999999/1/1", 1, {}, "Mfg date/time: 2147483647/1/1\nThe date must be less than or equal to 2027/11/24.\n" + invalid},
  };
  for (const Case& c : cases) {
    SetUp();
    EXPECT_EQ(HandleMfgDate(c.rest, &Bdt()), c.result) << c.rest;
    EXPECT_EQ(TakeConsole(), c.console) << c.rest;
    if (c.result == 0) {
      EXPECT_EQ(Stored(Bdt()), c.stored) << c.rest;
      EXPECT_EQ(Bdt().Data[3], 0) << "the fourth byte of the count";
    } else {
      EXPECT_EQ(Bdt().Size, -1) << c.rest;
    }
  }
}

TEST_F(Handlers, EncodingRoundTripsThroughTheDateDisplayForEveryDay) {
  uint32_t expectedDays = 0;
  for (int year = 1996; year <= 2027; ++year) {
    for (int month = 1; month <= 12; ++month) {
      const int lengths[] = {31, IsLeapYear(year) ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      for (int day = 1; day <= lengths[month - 1]; ++day) {
        if (year == 2027 && (month > 11 || (month == 11 && day > 24))) continue;
        uint32_t minutes = FruMinutesFromDate(FruDate{year, month, day}, 13, 37);
        ASSERT_EQ(minutes, expectedDays * 1440 + 13 * 60 + 37) << year << "/" << month << "/" << day;
        FruDate shown = FruDateFromMinutes(minutes);
        ASSERT_EQ(shown.year, year);
        ASSERT_EQ(shown.month, month);
        ASSERT_EQ(shown.day, day);
        ++expectedDays;
      }
    }
  }
}

TEST_F(Handlers, TheClockGivesTodayWithItsTimeUpToThe24BitLimit) {
  struct Case {
    const char* now;
    int32_t result;
    uint32_t minutes;
  };
  const Case cases[] = {
      {"2018-01-01T10:30", 0, 11571840 + 630},
      {"2027-11-24T20:15", 0, 0xFFFFFF},
      {"2027-11-24T20:16", 1, 0},  // no longer fits three bytes
      {"1995-06-01T00:00", 1, 0},
  };
  for (const Case& c : cases) {
    SetUp();
    setenv("TAGFORGE_NOW", c.now, 1);
    EXPECT_EQ(HandleMfgDate("", &Bdt()), c.result) << c.now;
    unsetenv("TAGFORGE_NOW");
    std::string console = TakeConsole();
    if (c.result == 0) {
      EXPECT_EQ(Bdt().Size, 3);
      EXPECT_EQ(Bdt().Data[0] | Bdt().Data[1] << 8 | Bdt().Data[2] << 16, static_cast<int>(c.minutes)) << c.now;
    } else {
      EXPECT_EQ(console.substr(console.size() - 30), "[ERROR] Mfg Date/Time invalid\n") << c.now;
    }
  }
  SetUp();
  setenv("TAGFORGE_NOW", "2027-11-24T20:16", 1);
  HandleMfgDate("", &Bdt());
  unsetenv("TAGFORGE_NOW");
  EXPECT_EQ(TakeConsole(), "Mfg date/time: 2027/11/24\nThe date must be less than or equal to 2027/11/24.\n"
                           "[ERROR] Mfg Date/Time invalid\n");
}

TEST_F(Handlers, ChassisTypeFrom0To36) {
  struct Case {
    const char* rest;
    int32_t result;
    int value;
    const char* console;
  };
  const Case cases[] = {
      {"=17", 0, 17, ""},   {"=36", 0, 36, ""},  {"=0", 0, 0, ""},    {"=017", 0, 17, ""}, {"= +5", 0, 5, ""},
      // A whole decimal number or nothing: 0x17 must not be stored as 0, nor 3x as 3.
      {"=", 1, -1, "[ERROR] Chassis type invalid\n"},
      {"=abc", 1, -1, "[ERROR] Chassis type invalid\n"},
      {"=3x", 1, -1, "[ERROR] Chassis type invalid\n"},
      {"=0x17", 1, -1, "[ERROR] Chassis type invalid\n"},
      {"=17 ", 1, -1, "[ERROR] Chassis type invalid\n"},
      {"=37", 1, -1, "[ERROR] Chassis Type Out Of Range\n"},
      {"=-1", 1, -1, "[ERROR] Chassis Type Out Of Range\n"},
      {"=4294967313", 1, -1, "[ERROR] Chassis Type Out Of Range\n"},  // never wraps to 17
      {"", 1, -1, "[ERROR] Chassis type invalid\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    FieldEntry& row = RowByKeyword(gFieldCatalogue, "CTY");
    EXPECT_EQ(HandleChassisType(c.rest, &row), c.result) << c.rest;
    EXPECT_EQ(TakeConsole(), c.console) << c.rest;
    if (c.result == 0) {
      EXPECT_EQ(row.Size, 1);
      EXPECT_EQ(row.Data[0], c.value) << c.rest;
    } else {
      EXPECT_EQ(row.Size, -1);
    }
  }
}

class BoardName : public Handlers {
 protected:
  void SetUp() override {
    Handlers::SetUp();
    directory_ = std::filesystem::temp_directory_path() / ("tagforge-smbios-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory_);
    setenv("TAGFORGE_SMBIOS", directory_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TAGFORGE_SMBIOS");
    std::filesystem::remove_all(directory_);
    Handlers::TearDown();
  }
  void Tables(const Bytes& entry, const Bytes& table) {
    std::ofstream(directory_ / "smbios_entry_point", std::ios::binary)
        .write(reinterpret_cast<const char*>(entry.data()), static_cast<std::streamsize>(entry.size()));
    std::ofstream(directory_ / "DMI", std::ios::binary)
        .write(reinterpret_cast<const char*>(table.data()), static_cast<std::streamsize>(table.size()));
  }
  FieldEntry& Bpn() { return RowByKeyword(gFieldCatalogue, "BPN"); }

  std::filesystem::path directory_;
};

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST_F(BoardName, TheSecondStringOfTheFirstBaseboardStructure) {
  struct Case {
    const char* name;
    Bytes table;
    int count;
    const char* expected;  // null: no name
  };
  const Bytes bios = SmbiosStructure(0, 0x0000, {1, 2, 0, 0}, {"Vendor", "1.0"});
  const Bytes system = SmbiosStructure(1, 0x0001, {1, 2}, {"Maker", "Box"});
  const Bytes board = SmbiosStructure(2, 0x0002, {1, 3}, {"Maker", "MB-1234", "Other"});  // Product field names string 3
  const Bytes board2 = SmbiosStructure(2, 0x0003, {1, 2}, {"Maker", "Second"});
  const Bytes oneString = SmbiosStructure(2, 0x0002, {1}, {"Maker"});
  const Bytes end = SmbiosStructure(127, 0x0004, {}, {});
  const Bytes noStrings = SmbiosStructure(4, 0x0005, {0, 0}, {});  // its set is just the two NULs
  const Bytes emptyFirst = SmbiosStructure(2, 0x0002, {1, 2}, {"", "BRD"});
  const Case cases[] = {
      {"product field ignored", Concat({bios, system, board, end}), 4, "MB-1234"},
      {"after a structure without strings", Concat({bios, noStrings, board, end}), 4, "MB-1234"},
      {"an empty first string counts", Concat({bios, emptyFirst, end}), 3, "BRD"},
      {"first of two", Concat({bios, board, board2, end}), 4, "MB-1234"},
      {"zero structures", Concat({bios, board, end}), 0, nullptr},
      {"counted before it", Concat({bios, system, board, end}), 2, nullptr},
      {"one string", Concat({bios, oneString, end}), 3, nullptr},
      {"none", Concat({bios, system, end}), 3, nullptr},
      {"cut inside the board", Concat({bios, Bytes(board.begin(), board.begin() + 12)}), 3, nullptr},
      {"name cut by the table end", Concat({bios, Bytes(board.begin(), board.begin() + 16)}), 3, nullptr},
      {"formatted length 0", Concat({Bytes{2, 0, 0, 0}, board}), 3, nullptr},
      {"repeated handles", Concat({bios, bios, bios, board}), 100, nullptr},
  };
  for (const Case& c : cases) {
    SetUp();
    Tables(SmbiosEntryPoint(static_cast<uint16_t>(c.table.size()), static_cast<uint16_t>(c.count)), c.table);
    EXPECT_EQ(HandleBoardProductName("", &Bpn()), 0) << c.name;
    EXPECT_EQ(TakeConsole(), "SMBIOS Ver: 2.8  Rev: 0  Table Count: " + std::to_string(c.count) + "\r\n") << c.name;
    if (c.expected == nullptr) {
      EXPECT_EQ(Bpn().Size, -1) << c.name;
    } else {
      EXPECT_EQ(Stored(Bpn()), Bytes(c.expected, c.expected + strlen(c.expected))) << c.name;
      EXPECT_EQ(Bpn().Type, 0xC0);
    }
    TearDown();
  }
}

TEST_F(BoardName, ATableLengthBeyondTheBytesIsNeverReadPast) {
  const Bytes table = Concat({SmbiosStructure(0, 0, {}, {"A"}), SmbiosStructure(2, 1, {1, 2}, {"M", "LONGNAME"})});
  Bytes cut(table.begin(), table.end() - 3);  // the name runs into the end of the bytes
  Tables(SmbiosEntryPoint(0xFFFF, 5), cut);
  EXPECT_EQ(HandleBoardProductName("", &Bpn()), 0);
  EXPECT_EQ(Bpn().Size, -1);
}

TEST_F(BoardName, AnSmbios3EntryPointServesWhenThereIsNo2xOne) {
  const Bytes table = Concat({SmbiosStructure(0, 0, {}, {"A"}), SmbiosStructure(2, 1, {1, 2}, {"M", "Name3"})});
  struct Case {
    const char* name;
    Bytes entry;
    std::string console;
    int32_t size;
  };
  Bytes neither = Smbios3EntryPoint(static_cast<uint32_t>(table.size()));
  neither[3] = '4';  // "_SM4_": no anchor this tool knows
  Bytes cut = Smbios3EntryPoint(static_cast<uint32_t>(table.size()));
  cut.resize(20);  // shorter than the structure
  const Case cases[] = {
      {"3.x", Smbios3EntryPoint(static_cast<uint32_t>(table.size())),
       "SMBIOS Ver: 3.2  Rev: 1  Table Max Size: " + std::to_string(table.size()) + "\r\n", 5},
      // A maximum size that holds one structure at most: the walk stops there.
      {"3.x, room for one structure", Smbios3EntryPoint(6), "SMBIOS Ver: 3.2  Rev: 1  Table Max Size: 6\r\n", -1},
      {"neither anchor", neither, "ERROR: SMBIOS table not found.\r\n", -1},
      {"a cut 3.x entry point", cut, "ERROR: SMBIOS table not found.\r\n", -1},
  };
  for (const Case& c : cases) {
    SetUp();
    Tables(c.entry, table);
    EXPECT_EQ(HandleBoardProductName("", &Bpn()), 0) << c.name;
    EXPECT_EQ(TakeConsole(), c.console) << c.name;
    EXPECT_EQ(Bpn().Size, c.size) << c.name;
    TearDown();
  }
}

// Firmware on large machines puts the 3.x table above 4 GiB: the whole 64-bit
// address must reach the platform, which reads the table there.
TEST_F(BoardName, AnSmbios3TableAbove4GiBKeepsItsWholeAddress) {
  Bytes entry = Smbios3EntryPoint(64);
  const uint64_t address = 0x000000123456A000ULL;
  for (int i = 0; i < 8; ++i) entry[16 + i] = static_cast<uint8_t>(address >> (8 * i));
  Tables(entry, SmbiosStructure(2, 1, {1, 2}, {"M", "Name3"}));
  struct SmbiosEntryPoint found{};
  ASSERT_TRUE(FindSmbiosEntryPoint(&found));
  EXPECT_TRUE(found.is64);
  EXPECT_EQ(found.tableAddress, address);
}

TEST_F(BoardName, AValueWithEqualsIsDeclinedWithoutTouchingSmbios) {
  EXPECT_EQ(HandleBoardProductName("=Custom", &Bpn()), 2);
  EXPECT_EQ(HandleBoardProductName("=", &Bpn()), 2);
  EXPECT_EQ(TakeConsole(), "");
}

TEST_F(BoardName, ANameLongerThanTheBufferIsCut) {
  const std::string longName(400, 'N');
  const Bytes table = SmbiosStructure(2, 1, {1, 2}, {"M", longName});
  Tables(SmbiosEntryPoint(static_cast<uint16_t>(table.size()), 1), table);
  EXPECT_EQ(HandleBoardProductName("", &Bpn()), 0);
  EXPECT_EQ(Bpn().Size, 255);
  EXPECT_EQ(Bpn().Data[255], 0);
}

}  // namespace
