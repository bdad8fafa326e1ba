// The IPMI requests and FRU operations against the simulated BMC.
#include "bmc/fru_size_cause.h"
#include "bmc/fru_storage.h"
#include "bmc/ipmi_fru_device.h"
#include "bmc_test_support.h"
#include "fru/fru_format.h"

namespace {

class FruStorage : public BmcTest {
 protected:
  static std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
  }
  // Reads the whole FRU; the image beyond size is checked to stay untouched.
  bool Read(uint16_t size) {
    image_.assign(FRU_IMAGE_MAX, 0xEE);
    return ReadFruImage(Device(), 0, size, image_.data());
  }
  // Writes the bytes at offsets 0 to size - 1, every chunk sent.
  bool Write(size_t size, const uint8_t* bytes) { return WriteFruRange(Device(), 0, 0, size, bytes, nullptr, nullptr); }
  std::vector<uint8_t> ReadBytes(size_t size) const { return std::vector<uint8_t>(image_.begin(), image_.begin() + size); }

  std::vector<uint8_t> image_;
};

TEST_F(FruStorage, IdentityIsCheckedUpToFiveTimes) {
  struct Case {
    const char* faults;
    bool ok;
    const char* console;
    uint64_t requests;
  };
  const Case cases[] = {
      {"", true, "BMC Revision = 1.25.0\n", 1},
      {"cc=0xC0@devid#1-2", true, "BMC Revision = 1.25.0\n", 3},
      {"mfg=343", false,
       "[ERROR] BMC is not supported.\n"
       "[ERROR] BMC manufacturer ID is 343 (0x000157); this build supports 32473 (0x007ED9)\n",
       5},
      {"mfg=343,dead-after=4", false, "[ERROR] BMC is not accessible.\n", 4},
      {"cc=0xC0@devid", false, "[ERROR] BMC is not accessible.\n", 5},
      {"devid-bytes=11", true, "BMC Revision = 1.25.0\n", 1},  // no auxiliary revision, as QEMU's BMC
      {"devid-bytes=8", false, "[ERROR] BMC is not accessible.\n", 5},
      {"mfg=0x107ED9", false,  // all 24 bits count
       "[ERROR] BMC is not supported.\n"
       "[ERROR] BMC manufacturer ID is 1081049 (0x107ED9); this build supports 32473 (0x007ED9)\n",
       5},
      {"absent", false, "[ERROR] BMC is not accessible.\n", 0},
  };
  for (const Case& c : cases) {
    sim::SimulatedBmc& bmc = Bmc(c.faults);
    EXPECT_EQ(CheckBmcIdentity(Ipmi()), c.ok) << c.faults;
    EXPECT_EQ(TakeConsole(), c.console) << c.faults;
    EXPECT_EQ(bmc.Requests(), c.requests) << c.faults;
  }
}

TEST_F(FruStorage, TheRevisionLineShowsMajorMinorAndAuxiliary) {
  Bmc("fwrev1=0x81,fwrev2=0x25,auxrev=0");  // the device-available bit is masked off
  EXPECT_TRUE(CheckBmcIdentity(Ipmi()));
  EXPECT_EQ(TakeConsole(), "BMC Revision = 1.25.0\n");
  Bmc("fwrev1=2,fwrev2=0x10,auxrev=0x04030201");
  EXPECT_TRUE(CheckBmcIdentity(Ipmi()));
  EXPECT_EQ(TakeConsole(), "BMC Revision = 2.10.4030201\n");
}

TEST_F(FruStorage, InventorySize) {
  Bmc("", "", std::vector<uint8_t>(70));
  uint16_t size = 0;
  EXPECT_TRUE(GetFruInventorySize(Device(), 256, &size));  // device 0: the low 8 bits
  EXPECT_EQ(size, 70);
  EXPECT_EQ(TakeConsole(), "Inventory FRU Size = 70 Bytes\nFRU data read from BMC: ID=256\n");

  // The failure's line, then the one that names its cause.
  const std::pair<const char*, const char*> failures[] = {
      {"cc=0xC3@size", "[ERROR] The BMC answered completion code 0xC3\n"},
      {"dead-after=0", "[ERROR] The BMC did not answer Get FRU Inventory Area Info\n"},
      {"absent", "[ERROR] The BMC did not answer Get FRU Inventory Area Info\n"},
  };
  for (const auto& [faults, cause] : failures) {
    Bmc(faults);
    EXPECT_FALSE(GetFruInventorySize(Device(), 0, &size)) << faults;
    EXPECT_EQ(TakeConsole(), std::string("[ERROR] Get FRU size error\n") + cause) << faults;
  }
  Bmc();
  EXPECT_FALSE(GetFruInventorySize(Device(), 1, &size));  // no FRU device 1: completion code 0xCB
  EXPECT_EQ(TakeConsole(), "[ERROR] Get FRU size error\n[ERROR] FRU 1 is not present on this BMC (completion code 0xCB)\n");
}

// A device that printed its own lines (an image file, an EEPROM) gets no cause line after them.
TEST_F(FruStorage, TheSizeFailuresCauseIsNamedOnlyForABmcsAnswer) {
  struct Case {
    PlatformFruSize answer;
    int32_t fruId;
    const char* line;
  };
  const Case cases[] = {
      {PlatformFruSize{false, 0}, 3, ""},
      {PlatformFruSize{false, 0, PlatformFruSizeFailure::NoAnswer, 0xFF}, 3,
       "[ERROR] The BMC did not answer Get FRU Inventory Area Info\n"},
      {PlatformFruSize{false, 0, PlatformFruSizeFailure::Refused, 0xCB}, 300,
       "[ERROR] FRU 300 is not present on this BMC (completion code 0xCB)\n"},
      {PlatformFruSize{false, 0, PlatformFruSizeFailure::Refused, 0xC1}, 0,
       "[ERROR] The BMC does not support FRU inventory requests (completion code 0xC1)\n"},
      {PlatformFruSize{false, 0, PlatformFruSizeFailure::Refused, 0xD4}, 0,
       "[ERROR] The BMC refused: insufficient privilege (completion code 0xD4)\n"},
      {PlatformFruSize{false, 0, PlatformFruSizeFailure::Refused, 0xD5}, 2,
       "[ERROR] The BMC cannot serve FRU 2 now (completion code 0xD5)\n"},
      {PlatformFruSize{false, 0, PlatformFruSizeFailure::Refused, 0x0A}, 0, "[ERROR] The BMC answered completion code 0x0A\n"},
  };
  for (const Case& c : cases) {
    PrintFruSizeCause(c.answer, c.fruId);
    EXPECT_EQ(TakeConsole(), c.line);
  }
}

TEST_F(FruStorage, A70ByteInventoryIsReadAndWrittenIn32_32_6) {
  const std::vector<uint8_t> fru = Pattern(70);
  sim::SimulatedBmc& bmc = Bmc("", "", std::vector<uint8_t>(70, 0));
  gVerbose = 1;
  EXPECT_TRUE(Write(70, fru.data()));
  EXPECT_EQ(bmc.Fru(), fru);
  std::string console = TakeConsole();
  for (const char* line : {"Write Fru 0 startOffset=0x0, length=32\n", "Write Fru 0 startOffset=0x20, length=32\n",
                           "Write Fru 0 startOffset=0x40, length=6\n"}) {
    EXPECT_NE(console.find(line), std::string::npos) << line;
  }
  ASSERT_TRUE(Read(70));
  EXPECT_EQ(ReadBytes(70), fru);
  EXPECT_EQ(image_[70], 0xEE);
  console = TakeConsole();
  for (const char* line : {"Read Fru 0 startOffset=0x0, length=32\n", "Read Fru 0 startOffset=0x20, length=32\n",
                           "Read Fru 0 startOffset=0x40, length=6\n"}) {
    EXPECT_NE(console.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(bmc.Requests(), 6u);
}

TEST_F(FruStorage, ReadsSurviveWhatBmcsDo) {
  struct Case {
    const char* faults;
    uint64_t requests;
  };
  const Case cases[] = {
      {"cc=0xC0@read#2", 4},          // a completion code: retried, never a zero-filled hole
      {"cc=0xC0@read#2-12", 14},      // eleven failures, the twelfth attempt succeeds
      {"max-chunk=16", 1 + 5},        // 0xCA halves the chunk: 16 + 16 + 16 + 16 + 6
      {"max-chunk=8", 2 + 9},         // halved twice: nine chunks of 8 or less
      {"short-read=10", 7},           // 10 bytes per answer: ask again for the rest
      {"long-read=4", 3},             // more than asked: only the count asked is kept
      {"state=error", 3},
  };
  const std::vector<uint8_t> fru = Pattern(70);
  for (const Case& c : cases) {
    sim::SimulatedBmc& bmc = Bmc(c.faults, "", fru);
    ASSERT_TRUE(Read(70)) << c.faults << "\n" << TakeConsole();
    EXPECT_EQ(ReadBytes(70), fru) << c.faults;
    EXPECT_EQ(image_[70], 0xEE) << c.faults;
    EXPECT_EQ(bmc.Requests(), c.requests) << c.faults;
    EXPECT_EQ(TakeConsole(), "") << c.faults;
  }
}

TEST_F(FruStorage, AChunkThatFailsTwelveTimesFailsTheRead) {
  struct Case {
    const char* faults;
    const char* chunk;
  };
  const Case cases[] = {
      {"cc=0xC0@read#2+", "startOffset=0x20, length=32"},
      {"max-chunk=4", "startOffset=0x0, length=8"},  // halving stops at 8 bytes
      {"dead-after=2", "startOffset=0x40, length=6"},
  };
  for (const Case& c : cases) {
    Bmc(c.faults, "", Pattern(70));
    EXPECT_FALSE(Read(70)) << c.faults;
    EXPECT_EQ(TakeConsole(), std::string("[ERROR] Read Fru 0 ") + c.chunk + "\n[ERROR] Read FRU error\n") << c.faults;
  }
  Bmc();
  EXPECT_FALSE(Read(0));
  EXPECT_EQ(TakeConsole(), "[ERROR] Read FRU error\n");
}

TEST_F(FruStorage, WritesRetryRefusedChunksAndIgnoreTheCountWritten) {
  struct Case {
    const char* faults;
    uint64_t requests;
  };
  const Case cases[] = {
      {"cc=0xD5@write#2", 4},
      {"busy=3", 6},
      {"max-chunk=16", 1 + 5},      // 0xC7 halves: 16 + 16 + 16 + 16 + 6
      {"write-count-zero", 3},
  };
  const std::vector<uint8_t> fru = Pattern(70);
  for (const Case& c : cases) {
    sim::SimulatedBmc& bmc = Bmc(c.faults, "", std::vector<uint8_t>(70, 0));
    EXPECT_TRUE(Write(70, fru.data())) << c.faults;
    EXPECT_EQ(bmc.Fru(), fru) << c.faults;
    EXPECT_EQ(bmc.Requests(), c.requests) << c.faults;
    EXPECT_EQ(TakeConsole(), "") << c.faults;
  }
}

TEST_F(FruStorage, AChunkRefusedElevenTimesFailsTheWrite) {
  sim::SimulatedBmc& bmc = Bmc("cc=0xD5@write#2+", "", std::vector<uint8_t>(70, 0));
  EXPECT_FALSE(Write(70, Pattern(70).data()));
  EXPECT_EQ(TakeConsole(), "[ERROR] Write Fru 0 startOffset=0x20, length=32\n");
  EXPECT_EQ(bmc.Requests(), 12u);
  EXPECT_FALSE(Write(0, nullptr));
  EXPECT_EQ(bmc.Requests(), 12u);
}

TEST_F(FruStorage, RetriesPauseAsTheBmcNeeds) {
  sim::SimulatedBmc& bmc = Bmc("", "ibf=0,response=0,port=0", std::vector<uint8_t>(70, 0));
  Write(70, Pattern(70).data());
  EXPECT_EQ(bmc.Counters().stalledUs, 3u * 1000u);  // a pause after every chunk
  sim::SimulatedBmc& busy = Bmc("busy=1", "ibf=0,response=0,port=0", std::vector<uint8_t>(70, 0));
  Write(70, Pattern(70).data());
  EXPECT_EQ(busy.Counters().stalledUs, 4u * 1000u + 5000u);
}

}  // namespace
