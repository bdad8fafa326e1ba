// tagforge inside a Debian kernel booted in QEMU, through the kernel's SSIF
// driver (ipmi_ssif on q35's SMBus) in front of QEMU's BMC simulator: the
// same console text and the same FRU bytes as the host program on the
// simulated BMC, and the time a 2 KiB listing takes with each read size.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "cli_harness.h"
#include "fru_bytes.h"
#include "linux_vm.h"

namespace {

constexpr size_t FRU_SIZE = 2048;

// What growing reads are for: a 2 KiB listing over SSIF, where every request
// costs the same whatever its size, in at most this share of the requests and
// so of the time. The guest's own clock is printed, not asserted: under TCG on
// a loaded host it measures the host's load as much as the requests.
constexpr double GROWING_TO_FIXED_MAX = 0.4;

const std::vector<std::string> kEdit{"ID=0", "BSN=SSIF-0001", "CPN=CP-77", "PSN=PS-123456", "PAT=ASSET-9"};

class LinuxSsif : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!VmReady()) return;
    std::filesystem::remove_all(BootDir("ssif"));
    runs_ = new std::map<std::string, VmRun>(Boot(
        "ssif",
        {{"load",
          "insmod /mods/i2c-smbus.ko && insmod /mods/i2c-i801.ko && insmod /mods/ipmi_msghandler.ko && "
          "insmod /mods/ipmi_devintf.ko && insmod /mods/ipmi_ssif.ko && "
          "for i in $(seq 50); do [ -e /dev/ipmi0 ] && break; usleep 100000; done; ls /dev/ipmi0 /sys/module | "
          "grep -x -e /dev/ipmi0 -e ipmi_ssif -e ipmi_si"},
         // Also the first run of the program: the timed ones below find it loaded.
         {"ports", "TAGFORGE_BMC=ports tagforge ID=0"},
         {"list_growing", TimedQuiet("TAGFORGE_BMC=kernel tagforge ID=0")},
         {"list_fixed", TimedQuiet("TAGFORGE_FIXED_READS=1 TAGFORGE_BMC=kernel tagforge ID=0")},
         // Each Read FRU Data request's trace line, counted.
         {"reads_growing", "TAGFORGE_BMC=kernel tagforge -v ID=0 | grep -c '^Read Fru 0 '"},
         {"reads_fixed", "TAGFORGE_FIXED_READS=1 TAGFORGE_BMC=kernel tagforge -v ID=0 | grep -c '^Read Fru 0 '"},
         {"edit", "tagforge " + Joined(kEdit)},
         {"list_edited", "TAGFORGE_BMC=kernel tagforge ID=0"},
         {"clear", "TAGFORGE_BMC=kernel tagforge ID=0 ClearFru=1"},
         {"list_cleared", "tagforge ID=0"}},
        VmFru(FRU_SIZE),
        "-device ipmi-bmc-sim,id=bmc0,mfg_id=32473,fwrev1=1,fwrev2=0x25,fruareasize=" + std::to_string(FRU_SIZE) +
            ",frudatafile=fru.bin -device smbus-ipmi,bmc=bmc0,address=0x10"));
  }
  static void TearDownTestSuite() { delete runs_; }
  void SetUp() override {
    if (runs_ == nullptr) GTEST_SKIP() << "build/linux-vm is missing or incomplete: run scripts/linux_vm.sh";
  }
  static const VmRun& R(const std::string& name) { return (*runs_)[name]; }
  static std::map<std::string, VmRun>* runs_;
};
std::map<std::string, VmRun>* LinuxSsif::runs_ = nullptr;

HostRuns OnHost() {
  return RunOnHost({{"list", {"ID=0"}},
                    {"edit", kEdit},
                    {"list_edited", {"ID=0"}},
                    {"clear", {"ID=0", "ClearFru=1"}},
                    {"list_cleared", {"ID=0"}}},
                   VmFru(FRU_SIZE), "sim:");
}

TEST_F(LinuxSsif, TheDriverBindsThroughAcpiAndTheDeviceNodeAppears) {
  EXPECT_EQ(R("load").output, "/dev/ipmi0\nipmi_ssif\n");
  EXPECT_EQ(R("load").status, 0);
}

TEST_F(LinuxSsif, ListEditAndClearPrintWhatTheHostProgramPrints) {
  const HostRuns host = OnHost();
  const std::map<std::string, std::string> same{{"list_growing", "list"}, {"list_fixed", "list"},
                                                {"edit", "edit"},         {"list_edited", "list_edited"},
                                                {"clear", "clear"},       {"list_cleared", "list_cleared"}};
  for (const auto& [guest, hostName] : same) {
    EXPECT_EQ(R(guest).status, 0) << guest << "\n" << R(guest).output;
    EXPECT_EQ(host.runs.at(hostName).status, 0) << hostName << "\n" << host.runs.at(hostName).output;
    EXPECT_EQ(WithoutBmcLines(R(guest).output, false), WithoutBmcLines(host.runs.at(hostName).output, false)) << guest;
  }
  EXPECT_NE(R("edit").output.find("\ndone.\n"), std::string::npos) << R("edit").output;
  EXPECT_NE(R("list_edited").output.find("       Board Serial Number: \"SSIF-0001\" (9 bytes)\n"), std::string::npos);
}

// The simulator keeps writes in memory only: what it holds is what the listings in the same boot read.
TEST_F(LinuxSsif, TheFruReadBackEqualsTheImageComputedOnTheHost) {
  const HostRuns host = OnHost();
  EXPECT_EQ(ListedBytes(R("list_growing").output), VmFru(FRU_SIZE));
  EXPECT_EQ(ListedBytes(R("list_fixed").output), VmFru(FRU_SIZE));
  ASSERT_NE(host.runs.at("edit").after, VmFru(FRU_SIZE));
  EXPECT_EQ(ListedBytes(R("list_edited").output), host.runs.at("edit").after);
  EXPECT_EQ(ListedBytes(R("list_cleared").output), Bytes(FRU_SIZE, 0x00));
}

TEST_F(LinuxSsif, PortsAreRefusedBesideTheDriver) {
  // Refused where the run reaches the BMC, after the banner.
  EXPECT_EQ(R("ports").output,
            kBanner +
                "[ERROR] The kernel's IPMI driver is loaded and owns the KCS interface; two drivers on one interface "
                "corrupt each other's transfers. Use TAGFORGE_BMC=kernel\nReturn code = 1.\n");
  EXPECT_EQ(R("ports").status, 1);
}

TEST_F(LinuxSsif, TwoKibListingWithGrowingAndWithFixedReads) {
  const double growing = R("list_growing").seconds;
  const double fixed = R("list_fixed").seconds;
  ASSERT_GT(fixed, 0) << R("list_fixed").output;
  ASSERT_GT(growing, 0) << R("list_growing").output;
  const int growingReads = std::stoi("0" + R("reads_growing").output);
  const int fixedReads = std::stoi("0" + R("reads_fixed").output);
  printf("2048-byte listing over SSIF (guest time under TCG): growing reads %.2f s, 32-byte reads %.2f s, ratio %.2f; "
         "Read FRU Data requests %d and %d\n",
         growing, fixed, growing / fixed, growingReads, fixedReads);
  EXPECT_EQ(fixedReads, static_cast<int>(FRU_SIZE / 32));
  ASSERT_GT(growingReads, 0) << R("reads_growing").output;
  EXPECT_LE(static_cast<double>(growingReads) / fixedReads, GROWING_TO_FIXED_MAX);
}

}  // namespace
