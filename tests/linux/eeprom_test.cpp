// tagforge inside a Debian kernel booted in QEMU on a FRU EEPROM through
// at24: q35's SMBus EEPROMs bound as a 256-byte 24C02, as a 2 KiB 24C16
// (the eight chips at 0x50-0x57) and as a memory module's SPD. The chip's
// bytes come back over the console and equal what the host program leaves in
// a plain file given the same edits; the wrong chips are never written.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "cli_harness.h"
#include "fru_bytes.h"
#include "linux_vm.h"

namespace {

const std::string kAdapter = "/sys/bus/i2c/devices/i2c-0";
const std::string kDevice = "/sys/bus/i2c/devices/0-0050";
const std::string kEeprom = kDevice + "/eeprom";
const std::string kTool = "TAGFORGE_BMC=eeprom:" + kEeprom + " tagforge ";

const std::vector<std::string> kEdit{"ID=0", "BSN=EE-0001", "PSN=EE-P-1"};
const std::vector<std::string> kClear{"ID=0", "ClearFru=1"};

// The start of a DDR4 module's SPD (bytes used, revision, DRAM type, module type) and more bytes: no FRU, not blank.
Bytes SpdLike() {
  Bytes spd(256);
  for (size_t i = 0; i < spd.size(); ++i) spd[i] = static_cast<uint8_t>(i * 7 + 1);
  spd[0] = 0x23;
  spd[1] = 0x11;
  spd[2] = 0x0C;
  spd[3] = 0x02;
  return spd;
}

// Binds at24 to the chips at 0x50 as the given type and names what the kernel bound.
std::string Bind(const std::string& type) {
  return "echo " + type + " 0x50 > " + kAdapter + "/new_device && for i in $(seq 50); do [ -e " + kEeprom +
         " ] && break; usleep 100000; done; cat " + kDevice + "/name";
}

std::string Unbind() { return "echo 0x50 > " + kAdapter + "/delete_device && "; }

std::string Seed(const std::string& image) { return "cat /img/" + image + " > " + kEeprom; }

std::string Dump() { return "base64 " + kEeprom; }

// The steps on one chip type: seed the FRU, list, edit, bytes, clear, bytes.
void AddFruSteps(std::vector<Step>* steps, const std::string& chip, const std::string& image) {
  const std::vector<Step> more{{"seed_" + chip, Seed(image)},
                               {"list_" + chip, kTool + "ID=0"},
                               {"edit_" + chip, kTool + Joined(kEdit)},
                               {"edited_" + chip, Dump()},
                               {"clear_" + chip, kTool + Joined(kClear)},
                               {"cleared_" + chip, Dump()}};
  steps->insert(steps->end(), more.begin(), more.end());
}

class LinuxEeprom : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!VmReady()) return;
    std::filesystem::remove_all(BootDir("eeprom"));
    std::vector<Step> steps{
        {"load", "insmod /mods/i2c-smbus.ko && insmod /mods/i2c-i801.ko && insmod /mods/at24.ko io_limit=1 && " +
                     Bind("24c02")},
        {"real_path", "readlink -f " + kEeprom},
        // A chip that holds something else than a FRU is neither edited nor cleared.
        {"seed_nofru", Seed("spd.bin")},
        {"edit_nofru", kTool + Joined(kEdit)},
        {"clear_nofru", kTool + Joined(kClear)},
        {"bytes_nofru", Dump()}};
    AddFruSteps(&steps, "24c02", "fru256.bin");
    steps.push_back({"bind_24c16", Unbind() + Bind("24c16")});
    AddFruSteps(&steps, "24c16", "fru2048.bin");
    // A FRU on the chip, and the kernel naming it a memory module's SPD: refused all the same.
    const std::vector<Step> spd{{"seed_spd", Seed("fru256.bin")},
                                {"bind_spd", Unbind() + Bind("spd")},
                                {"edit_spd", kTool + Joined(kEdit)},
                                {"clear_spd", kTool + Joined(kClear)},
                                {"bytes_spd", Dump()}};
    steps.insert(steps.end(), spd.begin(), spd.end());
    runs_ = new std::map<std::string, VmRun>(
        Boot("eeprom", steps, {}, "",
             {{"/img/spd.bin", SpdLike()}, {"/img/fru256.bin", VmFru(256)}, {"/img/fru2048.bin", VmFru(2048)}}));
  }
  static void TearDownTestSuite() { delete runs_; }
  void SetUp() override {
    if (runs_ == nullptr) GTEST_SKIP() << "build/linux-vm is missing or incomplete: run scripts/linux_vm.sh";
  }
  static const VmRun& R(const std::string& name) { return (*runs_)[name]; }
  static std::string RealPath() {
    const std::string& text = R("real_path").output;
    return text.empty() ? kEeprom : text.substr(0, text.size() - 1);
  }
  static std::map<std::string, VmRun>* runs_;
};
std::map<std::string, VmRun>* LinuxEeprom::runs_ = nullptr;

// The guest's text and the host's, each with its own EEPROM path (as given or as the kernel links it) named PATH;
// the guest's first line also names the chip as the kernel does, which a plain file on the host has no name for.
void ExpectSameText(const VmRun& guest, const std::string& realPath, const HostRuns& host, const std::string& hostName,
                    const std::string& chip, const std::string& what) {
  const HostRun& h = host.runs.at(hostName);
  const std::string guestText = Replaced(Replaced(guest.output, realPath, "PATH"), kEeprom, "PATH");
  const std::string named = "\nFRU EEPROM = PATH (" + chip + ")\n";
  EXPECT_NE(guestText.find(named), std::string::npos) << what << "\n" << guestText;
  EXPECT_EQ(Replaced(guestText, named, "\nFRU EEPROM = PATH\n"), Replaced(h.output, host.file, "PATH")) << what;
  EXPECT_EQ(guest.status, h.status) << what << "\n" << guest.output;
}

TEST_F(LinuxEeprom, At24BindsTheChipsAsEachType) {
  EXPECT_EQ(R("load").output, "24c02\n");
  EXPECT_EQ(R("load").status, 0);
  EXPECT_EQ(R("real_path").output.rfind("/sys/devices/", 0), 0u) << R("real_path").output;
  EXPECT_EQ(R("bind_24c16").output, "24c16\n");
  EXPECT_EQ(R("bind_spd").output, "spd\n");
}

TEST_F(LinuxEeprom, ListEditAndClearLeaveTheBytesTheHostProgramLeavesInAFile) {
  for (const auto& [chip, size] : {std::pair<std::string, size_t>{"24c02", 256}, {"24c16", 2048}}) {
    const HostRuns host = RunOnHost({{"list", {"ID=0"}}, {"edit", kEdit}, {"clear", kClear}}, VmFru(size), "eeprom:");
    EXPECT_EQ(R("seed_" + chip).status, 0) << R("seed_" + chip).output;
    for (const char* step : {"list", "edit", "clear"}) {
      EXPECT_EQ(R(step + ("_" + chip)).status, 0) << chip << " " << step << "\n" << R(step + ("_" + chip)).output;
      ExpectSameText(R(step + ("_" + chip)), RealPath(), host, step, chip, chip + " " + step);
    }
    EXPECT_EQ(ListedBytes(R("list_" + chip).output), VmFru(size)) << chip;
    ASSERT_NE(host.runs.at("edit").after, VmFru(size)) << chip;
    EXPECT_EQ(Base64Bytes(R("edited_" + chip).output), host.runs.at("edit").after) << chip;
    EXPECT_EQ(Base64Bytes(R("cleared_" + chip).output), Bytes(size, 0x00)) << chip;
  }
}

TEST_F(LinuxEeprom, AChipHoldingNoFruIsNeitherEditedNorCleared) {
  const HostRuns host = RunOnHost({{"edit", kEdit}, {"clear", kClear}}, SpdLike(), "eeprom:");
  for (const char* step : {"edit_nofru", "clear_nofru"}) {
    EXPECT_NE(R(step).output.find("[ERROR] The EEPROM at " + kEeprom + " holds no FRU data\n"), std::string::npos)
        << step << "\n" << R(step).output;
    EXPECT_EQ(R(step).status, 1) << step;
  }
  ExpectSameText(R("edit_nofru"), RealPath(), host, "edit", "24c02", "edit");
  ExpectSameText(R("clear_nofru"), RealPath(), host, "clear", "24c02", "clear");
  EXPECT_EQ(Base64Bytes(R("bytes_nofru").output), SpdLike());
}

TEST_F(LinuxEeprom, AChipTheKernelNamesAnSpdIsRefused) {
  EXPECT_EQ(R("seed_spd").status, 0) << R("seed_spd").output;
  for (const char* step : {"edit_spd", "clear_spd"}) {
    EXPECT_NE(R(step).output.find("[ERROR] " + kEeprom + " is a memory module's SPD EEPROM\n"), std::string::npos)
        << step << "\n" << R(step).output;
    EXPECT_EQ(R(step).output.find("done."), std::string::npos) << step << "\n" << R(step).output;
    EXPECT_EQ(R(step).status, 1) << step;
  }
  EXPECT_EQ(Base64Bytes(R("bytes_spd").output), VmFru(256));
}

}  // namespace
