// The host program against the simulated BMC: console text, exit status and
// the bytes of the FRU file afterwards.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "cli_harness.h"
#include "fru_bytes.h"

namespace {

const Bytes kDate{0x00, 0x20, 0x57, 0xE2};  // language 0, 2024/3/15

Bytes Chassis() { return InfoArea({{0x17}, Text(""), Text("CS-1"), Text("")}); }
Bytes Board(const std::string& serial) {
  return InfoArea({kDate, Text("Acme"), Text(""), Text(serial), Text(""), {0x00}});
}
Bytes Product(const std::string& name) {
  return InfoArea({{0x00}, Text("Acme"), Text(name), Text(""), Text(""), Text(""), Text(""), {0x00}});
}
// 72 bytes of areas in an inventory of the given size.
Bytes Fru(size_t size, const std::string& serial = "SN-OLD", const std::string& name = "Box") {
  return Image(size, {0, 1, 3, 6, 0}, {{1, Chassis()}, {3, Board(serial)}, {6, Product(name)}});
}

class BmcCli : public ::testing::Test {
 protected:
  CliResult Run(std::vector<std::string> args, const std::string& faults = "") {
    CliRun run{std::move(args), {{"TAGFORGE_BMC", "sim:" + fruPath_}, {"TAGFORGE_SIM_STATS", "1"}}, "", dir_.path()};
    if (!faults.empty()) run.env["TAGFORGE_SIM_FAULTS"] = faults;
    return RunTagforge(run);
  }
  void SetFru(const Bytes& bytes) { WriteFileBytes(fruPath_, bytes); }
  Bytes FruFile() const { return ReadFileBytes(fruPath_); }
  static uint64_t Counter(const CliResult& r, const std::string& name) {
    size_t at = r.errors.find(name + "=");
    return at == std::string::npos ? UINT64_MAX : std::stoull(r.errors.substr(at + name.size() + 1));
  }

  TempDir dir_;
  std::string fruPath_ = dir_.File("fru.bin");
};

TEST_F(BmcCli, ListingTheSampleFruMatchesTheGoldenListing) {
  CliResult r = Run({"ID=0"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(FruFile().size(), 512u);
  const std::string golden = std::string(TAGFORGE_SOURCE_DIR) + "/tests/cli/golden/sample_listing.txt";
  if (getenv("TAGFORGE_UPDATE_GOLDEN") != nullptr) std::ofstream(golden, std::ios::binary) << r.output;
  std::ifstream in(golden, std::ios::binary);
  std::stringstream expected;
  expected << in.rdbuf();
  EXPECT_EQ(r.output, expected.str()) << "regenerate with TAGFORGE_UPDATE_GOLDEN=1 and review the diff";
  // Identity, size and reads only.
  EXPECT_EQ(Counter(r, "requests"), 1u + 1u + 16u);
}

TEST_F(BmcCli, AnEditWritesExactlyTheNewImageAndTheNextListingShowsIt) {
  SetFru(Fru(256));
  CliResult edit = Run({"ID=0", "BSN=SN-0001", "PPN=Widget"});
  EXPECT_EQ(edit.status, 0);
  EXPECT_TRUE(EndsWith(edit.output, "Write FRU data 72 bytes\ndone.\n")) << edit.output;
  EXPECT_EQ(FruFile(), Fru(256, "SN-0001", "Widget"));

  CliResult list = Run({"id=0"});
  EXPECT_EQ(list.status, 0);
  EXPECT_TRUE(EndsWith(list.output,
                       "              Chassis Type: 23\n"
                       "     Chassis Serial Number: \"CS-1\" (4 bytes)\n"
                       "            Mfg. Date/Time: 2024/3/15 (0x20 0x57 0xe2)\n"
                       "        Board Manufacturer: \"Acme\" (4 bytes)\n"
                       "       Board Serial Number: \"SN-0001\" (7 bytes)\n"
                       "      Product Manufacturer: \"Acme\" (4 bytes)\n"
                       "              Product Name: \"Widget\" (6 bytes)\n"
                       "[WARN] Product Info Area: serial number is empty (Product Serial Number)\n"))
      << list.output;
}

TEST_F(BmcCli, TheWholeRunOfAnEditReadsAsScriptsExpect) {
  SetFru(Fru(72));
  CliResult r = Run({"ID=0", "BSN=SN-0002"});
  const Bytes after = Fru(72, "SN-0002");
  std::string dump;
  for (size_t o = 0; o < after.size(); o += 16) {
    char line[128];
    int n = snprintf(line, sizeof(line), "%02zX", o);
    std::string text(line, static_cast<size_t>(n));
    std::string ascii;
    for (size_t i = 0; i < 16; ++i) {
      if (o + i < after.size()) {
        snprintf(line, sizeof(line), " %02x", after[o + i]);
        text += line;
        uint8_t b = after[o + i];
        ascii += (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.';
      } else {
        text += (i == 0 ? "" : "  ");
        ascii += ' ';
      }
    }
    dump += text + "\t" + ascii + "\n";
  }
  EXPECT_EQ(r.output, kBanner +
                          "       Board Serial Number: \"SN-0002\" (7 bytes)\n"
                          "BMC Revision = 1.25.0\n"
                          "Inventory FRU Size = 72 Bytes\n"
                          "FRU data read from BMC: ID=0\n"
                          "NewFru result: Size=72\n"
                          "   00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\t0123456789ABCDEF\n" +
                          dump +
                          // A warning comes before the write, so that "done." stays the last line.
                          "[WARN] Product Info Area: serial number is empty (Product Serial Number)\n"
                          "Write FRU data 72 bytes\ndone.\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(FruFile(), after);
}

TEST_F(BmcCli, ClearFruZeroesTheInventoryUnlessAFieldIsGiven) {
  SetFru(Fru(256));
  CliResult edit = Run({"ID=0", "ClearFru=1", "BSN=AB"});
  EXPECT_EQ(edit.status, 0);
  EXPECT_EQ(FruFile(), Fru(256, "AB"));

  CliResult clear = Run({"ID=0", "ClearFru=1"});
  EXPECT_EQ(clear.status, 0);
  EXPECT_TRUE(EndsWith(clear.output, "Clear FRU data...\ndone.\n"));
  EXPECT_EQ(FruFile(), Bytes(256, 0x00));
  // Identity, size, the read, the Device GUID the journal keeps, and the
  // write and read-back of the three chunks that are not zero already.
  EXPECT_EQ(Counter(clear, "requests"), 1u + 1u + 8u + 1u + 3u + 3u);
}

// The last chunk of these is short: a walk that stopped at the last whole
// chunk would list, edit or clear all but the FRU's last bytes.
TEST_F(BmcCli, InventoriesThatAreNotAMultipleOf32AreHandledToTheLastByte) {
  const auto image = [](size_t size, const std::string& serial) {
    if (size < 80) return Image(size, {0, 0, 1, 0, 4}, {{1, Board(serial)}, {4, MultiRecords(size - 32, 0x5A, 3)}});
    return Image(size, {0, 1, 3, 6, 9},
                 {{1, Chassis()}, {3, Board(serial)}, {6, Product("Box")}, {9, MultiRecords(size - 72, 0x5A, 3)}});
  };
  // Areas take whole 8-byte units, so the last one, a MultiRecord area, reaches the last byte.
  for (size_t size : {72u, 200u, 1000u}) {
    SetFru(image(size, "SN-OLD"));
    CliResult listing = Run({"ID=0"});
    EXPECT_EQ(listing.status, 0) << size;
    EXPECT_NE(listing.output.find("Inventory FRU Size = " + std::to_string(size) + " Bytes\n"), std::string::npos);
    EXPECT_NE(listing.output.find("Board Serial Number: \"SN-OLD\""), std::string::npos) << listing.output;
    CliResult edit = Run({"ID=0", "BSN=SN-NEW"});
    EXPECT_TRUE(EndsWith(edit.output, "done.\n")) << edit.output;
    EXPECT_EQ(FruFile(), image(size, "SN-NEW")) << size;
    CliResult clear = Run({"ID=0", "ClearFru=1"});
    EXPECT_TRUE(EndsWith(clear.output, "Clear FRU data...\ndone.\n")) << clear.output;
    EXPECT_EQ(FruFile(), Bytes(size, 0x00)) << size;
  }
}

TEST_F(BmcCli, NothingReachesTheBmcBeforeTheFruIdIsKnown) {
  SetFru(Fru(256));
  CliResult r = Run({"BSN=AB"});
  EXPECT_EQ(r.output, kBanner + "       Board Serial Number: \"AB\" (2 bytes)\n[ERROR] FRU ID is not set\nReturn code = 1.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, "");  // never chosen: no counters of a simulated BMC
}

// A request carries one byte of the FRU ID: an ID it cannot carry, or text
// that is no number, is refused before the BMC instead of reaching FRU 0.
TEST_F(BmcCli, AFruIdTheRequestCannotCarryIsRefusedBeforeTheBmc) {
  SetFru(Fru(128));
  for (const char* id : {"ID=256", "ID=0x10", "ID=abc", "ID=", "ID=-1", "ID=1 ", "ID=0255"}) {
    CliResult r = Run({id, "BSN=AB"});
    EXPECT_EQ(r.output, kBanner + "[ERROR] FRU ID must be a number from 0 to 255, not \"" + std::string(id + 3) +
                            "\"\nReturn code = 1.\n")
        << id;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors, "") << id;  // the BMC was never chosen
    EXPECT_EQ(FruFile(), Fru(128));
  }
  CliResult other = Run({"ID=1"});
  EXPECT_EQ(other.status, 1);
  EXPECT_TRUE(EndsWith(other.output, "[ERROR] Get FRU size error\n[ERROR] FRU 1 is not present on this BMC (completion "
                                     "code 0xCB)\nReturn code = 1.\n"));
}

// A failed Get FRU Inventory Area Info keeps its line and names the cause
// right after it, from the completion code or the missing answer; the FRU ID
// is printed whole.
TEST_F(BmcCli, AFailedSizeRequestNamesItsCause) {
  struct Case {
    const char* faults;
    const char* id;
    const char* cause;
  };
  const Case cases[] = {
      {"", "ID=1", "[ERROR] FRU 1 is not present on this BMC (completion code 0xCB)"},
      {"cc=0xCB@size", "ID=255", "[ERROR] FRU 255 is not present on this BMC (completion code 0xCB)"},
      {"cc=0xC1@size", "ID=0", "[ERROR] The BMC does not support FRU inventory requests (completion code 0xC1)"},
      {"cc=0xD4@size", "ID=0", "[ERROR] The BMC refused: insufficient privilege (completion code 0xD4)"},
      {"cc=0xD5@size", "ID=7", "[ERROR] The BMC cannot serve FRU 7 now (completion code 0xD5)"},
      {"dead-after=1", "ID=0", "[ERROR] The BMC did not answer Get FRU Inventory Area Info"},
      {"cc=0xC0@size", "ID=0", "[ERROR] The BMC answered completion code 0xC0"},
      {"cc=0xFF@size", "ID=0", "[ERROR] The BMC answered completion code 0xFF"},
  };
  for (const Case& c : cases) {
    SetFru(Fru(128));
    CliResult r = Run({c.id, "BSN=N1"}, c.faults);
    SCOPED_TRACE(std::string(c.faults) + "\n" + r.output);
    EXPECT_TRUE(EndsWith(r.output, "\n[ERROR] Get FRU size error\n" + std::string(c.cause) + "\nReturn code = 1.\n"));
    EXPECT_EQ(r.output.find("[ERROR]"), r.output.find("[ERROR] Get FRU size error"));  // nothing failed before
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(FruFile(), Fru(128));
  }
}

TEST_F(BmcCli, AnImageOverCapacityOrNoImageAtAllIsNotWritten) {
  SetFru(Fru(72));
  CliResult over = Run({"ID=0", "BSN=SN-000000001"});
  EXPECT_TRUE(EndsWith(over.output, "[ERROR] New size is over FRU's capacity: new size=80, capacity=72\nerror.\n"));
  EXPECT_EQ(over.status, 1);
  EXPECT_EQ(FruFile(), Fru(72));

  SetFru(Image(64, {0, 0, 1, 0, 0}, {{1, Board("X1")}}));
  CliResult nothing = Run({"ID=0", "CSN="});
  EXPECT_TRUE(EndsWith(nothing.output,
                       "NewFru result: Size=0\n"
                       "         00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\t0123456789ABCDEF\n"
                       "Write FRU data 0 bytes\nerror.\n"));
  EXPECT_EQ(nothing.status, 1);
  EXPECT_EQ(FruFile(), Image(64, {0, 0, 1, 0, 0}, {{1, Board("X1")}}));
}

TEST_F(BmcCli, InventoriesLargerThanTheImageOrEmptyAreRefused) {
  SetFru(Bytes(5000, 0x00));
  CliResult big = Run({"ID=0"});
  EXPECT_TRUE(EndsWith(big.output,
                       "Inventory FRU Size = 5000 Bytes\nFRU data read from BMC: ID=0\n"
                       "[ERROR] FRU inventory size 5000 bytes is larger than the 4096 bytes this tool can hold\n"
                       "Return code = 1.\n"));
  EXPECT_EQ(big.status, 1);
  EXPECT_EQ(Counter(big, "requests"), 2u);

  SetFru(Bytes{});
  CliResult empty = Run({"ID=0"});
  EXPECT_TRUE(EndsWith(empty.output, "Inventory FRU Size = 0 Bytes\nFRU data read from BMC: ID=0\n"
                                     "[ERROR] Read FRU error\nReturn code = 1.\n"));
  EXPECT_EQ(empty.status, 1);
}

TEST_F(BmcCli, EachBmcFaultEndsWithItsTextStatusAndFru) {
  struct Case {
    const char* faults;
    std::vector<std::string> args;
    std::string tail;
    int status;
    bool rewritten;  // the FRU file holds the new image; otherwise it is unchanged
  };
  const std::string notAccessible = "[ERROR] BMC is not accessible.\nReturn code = 1.\n";
  const std::string locate = "Error! Cannot locate protocol EfiCpuIo2ProtocolGuid. (Status = 14)\n";
  const Case cases[] = {
      {"absent", {"ID=0", "BSN=N1"}, notAccessible, 1, false},
      {"ibf-stuck", {"ID=0", "BSN=N1"}, notAccessible, 1, false},
      {"dead-after=0", {"ID=0"}, notAccessible, 1, false},
      {"port-fail=write", {"ID=0", "BSN=N1"}, notAccessible, 1, false},
      {"locate-fail", {"ID=0"}, locate + locate + locate + locate + locate + locate + locate + locate + locate + locate +
                                    notAccessible, 1, false},
      {"mfg=343", {"ID=0", "BSN=N1"},
       "[ERROR] BMC is not supported.\n"
       "[ERROR] BMC manufacturer ID is 343 (0x000157); this build supports 32473 (0x007ED9)\nReturn code = 1.\n",
       1, false},
      {"cc=0xC3@size", {"ID=0", "BSN=N1"},
       "[ERROR] Get FRU size error\n[ERROR] The BMC answered completion code 0xC3\nReturn code = 1.\n", 1, false},
      {"cc=0xC0@read#3+", {"ID=0", "BSN=N1"},
       "[ERROR] Read Fru 0 startOffset=0x40, length=32\n[ERROR] Read FRU error\nReturn code = 1.\n", 1, false},
      {"dead-after=4", {"ID=0", "BSN=N1"},
       "[ERROR] Read Fru 0 startOffset=0x40, length=32\n[ERROR] Read FRU error\nReturn code = 1.\n", 1, false},
      // Every write refused, the restore's too: the read-back shows the FRU never changed.
      // Only the second chunk holds a change, so it is the only one sent.
      {"cc=0xD5@write", {"ID=0", "BSN=N1"},
       "[ERROR] Write Fru 0 startOffset=0x20, length=32\nRestore FRU data 32 bytes\n"
       "[ERROR] Write Fru 0 startOffset=0x20, length=32\n"
       "[ERROR] The write failed; the FRU holds its original data again\nerror.\n", 1, false},
      {"state=write", {"ID=0", "BSN=N1"}, "done.\n", 0, true},
      {"state=error", {"ID=0", "BSN=N1"}, "done.\n", 0, true},
      {"short-read=10,long-read=3", {"ID=0", "BSN=N1"}, "done.\n", 0, true},
      {"max-chunk=16,busy=2,write-count-zero", {"ID=0", "BSN=N1"}, "done.\n", 0, true},
      {"cc=0xC0@read#2-5,cc=0xD5@write#1-3", {"ID=0", "BSN=N1"}, "done.\n", 0, true},
      {"devid-bytes=11", {"ID=0", "BSN=N1"}, "done.\n", 0, true},
      // The first read-back gives up on its first chunk (reads 5 to 16); the second pass goes through.
      {"cc=0xC0@read#5-16", {"ID=0", "BSN=N1"},
       "Write FRU data 72 bytes\nVerify FRU data: reading back failed; writing again\ndone.\n", 0, true},
  };
  for (const Case& c : cases) {
    SetFru(Fru(128));
    CliResult r = Run(c.args, c.faults);
    EXPECT_TRUE(EndsWith(r.output, c.tail)) << c.faults << "\n" << r.output;
    EXPECT_EQ(r.status, c.status) << c.faults;
    EXPECT_EQ(FruFile(), c.rewritten ? Fru(128, "N1") : Fru(128)) << c.faults;
    // A run that succeeds shows no error line on the way, whatever it got past.
    if (c.status == 0) {
      EXPECT_EQ(r.output.find("[ERROR]"), std::string::npos) << c.faults << "\n" << r.output;
    }
  }
}

TEST_F(BmcCli, AnEditOfADamagedAreaIsRefusedWhateverElseTheRunEdits) {
  // The damaged area stands last, behind a gap, and its length byte (16
  // units) reaches past the 256-byte inventory. Rebuilding an area before it
  // would move it into the gap, where its length would seem to fit.
  struct AreaCase {
    const char* name;
    Bytes bytes;
    std::string edit;
  };
  const AreaCase areas[] = {{"Chassis Info", Chassis(), "CSN=CS-2"},
                            {"Board Info", Board("SN-OLD"), "BSN=SN-NEW"},
                            {"Product Info", Product("Box"), "PPN=Crate"}};
  constexpr int kDamagedUnit = 24;
  for (int damaged = 0; damaged < 3; ++damaged) {
    Bytes image(256, 0x00);
    image[0] = 0x01;
    for (int n = 0, unit = 1; n < 3; ++n) {
      const int at = n == damaged ? kDamagedUnit : unit;
      if (n != damaged) unit += 4;
      image[2 + n] = static_cast<uint8_t>(at);
      std::copy(areas[n].bytes.begin(), areas[n].bytes.end(), image.begin() + at * 8);
    }
    image[kDamagedUnit * 8 + 1] = 16;
    image[7] = ZeroChecksum(image, 7);
    // The damaged area alone, after one edited area and after two (or, for
    // the chassis, with one and two edited after it).
    std::vector<std::vector<int>> edited = {{damaged}, {0, 1}, {0, 1, 2}};
    if (damaged == 2) edited[1] = {1, 2};
    for (const std::vector<int>& set : edited) {
      std::vector<std::string> args{"ID=0"};
      for (int n : set) args.push_back(areas[n].edit);
      SetFru(image);
      CliResult r = Run(args);
      // The lint of the FRU as read refuses it before any rebuild.
      const std::string refusal = std::string("FRU data read from BMC: ID=0\n[ERROR] The FRU would not be valid: ") +
                                  areas[damaged].name +
                                  " Area: reaches past the end of the FRU (damaged before this run: the edit would "
                                  "rebuild the area from it)\nTo repair it: ClearFru=1, then this batch's values "
                                  "again (the clear erases every area, the MultiRecord Area included: save the "
                                  "listing first), or an image written whole through the image-file device\nerror.\n";
      EXPECT_TRUE(EndsWith(r.output, refusal)) << r.output;
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(FruFile(), image) << areas[damaged].name << " with " << set.size() << " edited areas";
    }
  }
}

}  // namespace
