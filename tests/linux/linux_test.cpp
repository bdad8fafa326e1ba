// tagforge inside a Debian kernel booted in QEMU, through the kernel's own
// IPMI driver (ipmi_si, ipmi_devintf) in front of QEMU's BMC simulator: the
// same console text as the host program on the simulated BMC, and the
// driver's ownership of the interface respected.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "cli_harness.h"
#include "fru_bytes.h"
#include "ipmi_sim.h"
#include "linux_vm.h"

namespace {

namespace fs = std::filesystem;

// The host program's text for the same runs on the simulated BMC, one after another on one FRU file.
std::map<std::string, std::string> HostTexts(const std::vector<std::pair<std::string, std::vector<std::string>>>& runs,
                                             const Bytes& fru) {
  std::map<std::string, std::string> texts;
  for (const auto& [name, run] : RunOnHost(runs, fru, "sim:").runs) texts[name] = run.output;
  return texts;
}

// A 2048-byte FRU that an edit of a six-character serial number rewrites whole.
Bytes Fru2048() {
  const Bytes date{0x00, 0x20, 0x57, 0xE2};
  return Image(2048, {0, 1, 3, 6, 8},
               {{1, InfoArea({{0x17}, Text(""), Text("CS-1"), Text("")})},
                {3, InfoArea({date, Text("Acme"), Text(""), Text("SN-OLD"), Text(""), {0x00}})},
                {6, InfoArea({{0x00}, Text("Acme"), Text("Box")})},
                {8, MultiRecords(2048 - 64)}});
}

class LinuxKernel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!VmReady()) return;
    const std::string insmod =
        "insmod /mods/ipmi_msghandler.ko && insmod /mods/ipmi_devintf.ko && insmod /mods/ipmi_si.ko";
    fs::remove_all(BootDir("qemu_bmc"));
    runs_ = new std::map<std::string, VmRun>(Boot(
        "qemu_bmc",
        {{"no_driver", "TAGFORGE_BMC=kernel tagforge ID=0"},
         // Nothing named and no driver: refused, and no file appears anywhere (the folder stays empty).
         {"unset_no_driver", "tagforge ID=0 BSN=NONE-1; s=$?; ls -A /tmp; (exit $s)"},
         {"load_si", "insmod /mods/ipmi_msghandler.ko && insmod /mods/ipmi_si.ko"},
         {"unset_si_only", "tagforge ID=0"},
         {"ports_si_only", "TAGFORGE_BMC=ports tagforge ID=0"},
         {"load", "insmod /mods/ipmi_devintf.ko"},
         {"list", "tagforge ID=0"},
         {"edit", "tagforge ID=0 BSN=LNX-0001"},
         {"list_edited", "tagforge ID=0"},
         {"ports", "TAGFORGE_BMC=ports tagforge ID=0"},
         {"clear", "tagforge ID=0 ClearFru=1"},
         {"list_cleared", "TAGFORGE_BMC=kernel:0 tagforge ID=0"}},
        StartingFru512(),
        "-device ipmi-bmc-sim,id=bmc0,mfg_id=32473,fwrev1=1,fwrev2=0x25,fruareasize=512,frudatafile=fru.bin "
        "-device isa-ipmi-kcs,bmc=bmc0"));

    // OpenIPMI's simulator keeps the FRU in a file: the same edit through the
    // kernel driver and, with the driver unloaded, through the KCS ports.
    const fs::path dir = BootDir("ipmi_sim");
    fs::remove_all(dir);
    fs::create_directories(dir);
    WriteFileBytes((dir / "fru.bin").string(), Fru2048());
    IpmiSim sim(dir, 2048, kBootTimeoutSeconds + 60);
    simRuns_ = new std::map<std::string, VmRun>(Boot(
        "ipmi_sim",
        {{"load", insmod},
         {"edit_kernel", Timed("tagforge ID=0 BSN=KRN-01")},
         {"unload", "rmmod ipmi_si && rmmod ipmi_devintf && rmmod ipmi_msghandler"},
         {"edit_ports", Timed("TAGFORGE_BMC=ports tagforge ID=0 BSN=PRT-01")}},
        Fru2048(),
        "-chardev socket,id=ipmi0,host=127.0.0.1,port=" + std::to_string(sim.KcsPort()) +
            ",reconnect=10 -device ipmi-bmc-extern,id=bmc0,chardev=ipmi0 -device isa-ipmi-kcs,bmc=bmc0"));
  }
  static void TearDownTestSuite() {
    delete runs_;
    delete simRuns_;
  }
  void SetUp() override {
    if (runs_ == nullptr) GTEST_SKIP() << "build/linux-vm is missing or incomplete: run scripts/linux_vm.sh";
  }
  static const VmRun& R(const std::string& name) { return (*runs_)[name]; }
  static const VmRun& S(const std::string& name) { return (*simRuns_)[name]; }
  static std::map<std::string, VmRun>* runs_;
  static std::map<std::string, VmRun>* simRuns_;
};
std::map<std::string, VmRun>* LinuxKernel::runs_ = nullptr;
std::map<std::string, VmRun>* LinuxKernel::simRuns_ = nullptr;

TEST_F(LinuxKernel, OpenIpmisFruFileHoldsExactlyWhatTheHostProgramWrites) {
  TempDir host;
  WriteFileBytes(host.File("fru.bin"), Fru2048());
  std::map<std::string, std::string> texts;
  for (const auto& [name, serial] : {std::pair<std::string, std::string>{"edit_kernel", "KRN-01"}, {"edit_ports", "PRT-01"}}) {
    texts[name] =
        RunTagforge(CliRun{{"ID=0", "BSN=" + serial}, {{"TAGFORGE_BMC", "sim:" + host.File("fru.bin")}}, "", host.path()})
            .output;
  }
  for (const char* name : {"edit_kernel", "edit_ports"}) {
    EXPECT_EQ(S(name).status, 0) << name << "\n" << S(name).output;
    EXPECT_EQ(WithoutBmcLines(S(name).output, true), WithoutBmcLines(texts[name], true)) << name;
  }
  EXPECT_EQ(S("unload").status, 0) << S("unload").output;
  EXPECT_EQ(ReadFileBytes((fs::path(BootDir("ipmi_sim")) / "fru.bin").string()), ReadFileBytes(host.File("fru.bin")));
  // Information, not a target: one 2048-byte edit each way, guest time under TCG.
  printf("2048-byte edit against ipmi_sim: kernel driver %.2f s, KCS ports %.2f s\n", S("edit_kernel").seconds,
         S("edit_ports").seconds);
}

TEST_F(LinuxKernel, TheImageRunsTheStaticBinary) {
  EXPECT_TRUE(IsStatic(TAGFORGE_BINARY)) << TAGFORGE_BINARY;
  EXPECT_FALSE(fs::exists(fs::path(BootDir("qemu_bmc")) / "root/lib")) << "the initramfs holds shared libraries";
}

TEST_F(LinuxKernel, ListEditAndClearPrintWhatTheHostProgramPrints) {
  const auto host = HostTexts({{"list", {"ID=0"}},
                               {"edit", {"ID=0", "BSN=LNX-0001"}},
                               {"list_edited", {"ID=0"}},
                               {"clear", {"ID=0", "ClearFru=1"}},
                               {"list_cleared", {"ID=0"}}},
                              StartingFru512());
  for (const char* name : {"list", "edit", "list_edited", "clear", "list_cleared"}) {
    EXPECT_EQ(R(name).status, 0) << name << "\n" << R(name).output;
    EXPECT_EQ(WithoutBmcLines(R(name).output, true), WithoutBmcLines(host.at(name), true)) << name;
  }
  EXPECT_NE(R("list_edited").output.find("       Board Serial Number: \"LNX-0001\" (8 bytes)\n"), std::string::npos);
  // The image's journal is on its RAM-backed root: each writing run says so once, a listing never.
  for (const char* name : {"edit", "clear"}) EXPECT_EQ(R(name).ramJournalWarnings, 1) << name;
  for (const char* name : {"list", "list_edited", "list_cleared"}) EXPECT_EQ(R(name).ramJournalWarnings, 0) << name;
  EXPECT_NE(R("list").output.find("Inventory FRU Size = 512 Bytes\n"), std::string::npos);
}

// Each is said where the run reaches the BMC: after the banner and the values.
TEST_F(LinuxKernel, WithoutTheDriverKernelIsAClearErrorAndPortsAreRefusedBesideIt) {
  EXPECT_EQ(R("no_driver").output,
            kBanner +
                "[ERROR] No device node of the kernel's IPMI driver (/dev/ipmi0, /dev/ipmi/0, /dev/ipmidev/0): load it "
                "with modprobe ipmi_si ipmi_devintf\nReturn code = 1.\n");
  EXPECT_EQ(R("no_driver").status, 1);
  EXPECT_EQ(R("unset_no_driver").output,
            kBanner + "       Board Serial Number: \"NONE-1\" (6 bytes)\n" +
                "[ERROR] No BMC: load the kernel's IPMI driver: modprobe ipmi_si ipmi_devintf, or set TAGFORGE_BMC "
                "(kernel, lan:HOST, sim, ports)\nReturn code = 1.\n");
  EXPECT_EQ(R("unset_no_driver").status, 1);
  EXPECT_EQ(R("load_si").status, 0) << R("load_si").output;
  EXPECT_EQ(R("unset_si_only").output,
            kBanner +
                "[ERROR] The kernel's IPMI driver is loaded without its device interface: load it with modprobe "
                "ipmi_devintf, or set TAGFORGE_BMC (kernel, lan:HOST, sim, ports)\nReturn code = 1.\n");
  EXPECT_EQ(R("unset_si_only").status, 1);
  EXPECT_EQ(R("ports_si_only").output, R("ports").output);
  EXPECT_EQ(R("ports_si_only").status, 1);
  EXPECT_EQ(R("load").status, 0) << R("load").output;
  EXPECT_EQ(R("ports").output,
            kBanner +
                "[ERROR] The kernel's IPMI driver is loaded and owns the KCS interface; two drivers on one interface "
                "corrupt each other's transfers. Use TAGFORGE_BMC=kernel\nReturn code = 1.\n");
  EXPECT_EQ(R("ports").status, 1);
}

}  // namespace
