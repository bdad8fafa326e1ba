// tagforge over IPMI 2.0 LAN (RMCP+ through libfreeipmi) against OpenIPMI's
// ipmi_sim on a loopback UDP port: the same text and FRU bytes as on the
// simulated BMC, read back by ipmitool and decoded by FreeIPMI, and one clear
// line for each way a station's session fails.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli_harness.h"
#include "fru_bytes.h"
#include "ipmi_sim.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSimLifeSeconds = 300;

Bytes Fru1024() {
  const Bytes date{0x00, 0x20, 0x57, 0xE2};
  return Image(1024, {0, 1, 3, 6, 8},
               {{1, InfoArea({{0x17}, Text(""), Text("CS-1"), Text("")})},
                {3, InfoArea({date, Text("Acme"), Text(""), Text("SN-OLD"), Text(""), {0x00}})},
                {6, InfoArea({{0x00}, Text("Acme"), Text("Box")})},
                {8, MultiRecords(1024 - 128, 0x5A, 7)}});  // 64 bytes left for growth
}

class Lan : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(dir_.File("fru.bin"), Fru1024());
    sim_ = std::make_unique<IpmiSim>(dir_.path(), 1024, kSimLifeSeconds);
    WriteFileBytes(host_.File("fru.bin"), Fru1024());
  }
  CliResult Run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    env.emplace("TAGFORGE_BMC", "lan:127.0.0.1:" + std::to_string(sim_->LanPort()));
    env.emplace("TAGFORGE_LAN_USER", "admin");
    env.emplace("TAGFORGE_LAN_WORKAROUNDS", "opensesspriv");
    if (env.count("TAGFORGE_LAN_PASSWORD_FILE") == 0) env.emplace("TAGFORGE_LAN_PASSWORD", "secret");
    CliResult r = RunTagforge(CliRun{std::move(args), env, "", dir_.path()});
    EXPECT_EQ(r.output.find("secret"), std::string::npos);  // a password is never shown
    EXPECT_EQ(r.errors.find("secret"), std::string::npos);
    return r;
  }
  // The host program on the simulated BMC, on a FRU file of its own.
  std::string OnSimulatedBmc(std::vector<std::string> args) {
    return RunTagforge(CliRun{std::move(args), {{"TAGFORGE_BMC", "sim:" + host_.File("fru.bin")}}, "", host_.path()})
        .output;
  }
  Bytes SimFru() const { return ReadFileBytes(dir_.File("fru.bin")); }

  TempDir dir_;
  TempDir host_;
  std::unique_ptr<IpmiSim> sim_;
};

TEST_F(Lan, ListEditAndClearWriteWhatTheHostProgramWrites) {
  const std::vector<std::vector<std::string>> runs = {
      {"ID=0"}, {"ID=0", "BSN=LAN-01", "PPN=Crate"}, {"ID=0"}};
  for (const auto& args : runs) {
    CliResult r = Run(args);
    EXPECT_EQ(r.status, 0) << r.output << r.errors;
    EXPECT_EQ(WithoutBmcLines(r.output, false), WithoutBmcLines(OnSimulatedBmc(args), false));
  }
  EXPECT_EQ(SimFru(), ReadFileBytes(host_.File("fru.bin")));

  // A peer reads the FRU over the same LAN and FreeIPMI decodes it.
  const std::string read = "cd " + dir_.path() + " && IPMI_PASSWORD=secret ipmitool -I lanplus -H 127.0.0.1 -p " +
                           std::to_string(sim_->LanPort()) + " -U admin -E -C 3 fru read 0 peer.bin > peer.log 2>&1" +
                           " && ipmi-fru --fru-file=peer.bin > decoded.txt 2>&1";
  ASSERT_EQ(std::system(read.c_str()), 0) << std::ifstream(dir_.File("peer.log")).rdbuf();
  std::stringstream decoded;
  decoded << std::ifstream(dir_.File("decoded.txt")).rdbuf();
  EXPECT_NE(decoded.str().find("FRU Board Serial Number: LAN-01"), std::string::npos) << decoded.str();
  EXPECT_NE(decoded.str().find("FRU Product Name: Crate"), std::string::npos) << decoded.str();

  CliResult clear = Run({"ID=0", "ClearFru=1"});
  EXPECT_TRUE(EndsWith(clear.output, "Clear FRU data...\ndone.\n")) << clear.output;
  EXPECT_EQ(SimFru(), Bytes(1024, 0x00));
}

TEST_F(Lan, EachSessionFailureIsOneClearLineThenTheToolsOwnMessage) {
  const std::string port = std::to_string(sim_->LanPort());
  struct Case {
    const char* name;
    std::map<std::string, std::string> env;
    std::string line;  // the start of the host's line on standard error
  };
  const Case cases[] = {
      {"a closed port", {{"TAGFORGE_BMC", "lan:127.0.0.1:" + std::to_string(FreePort(SOCK_DGRAM))}},
       "tagforge: no answer from 127.0.0.1:"},
      {"a wrong password", {{"TAGFORGE_LAN_PASSWORD", "wrong"}}, "tagforge: the BMC at 127.0.0.1:" + port + " refused"},
      {"a wrong user", {{"TAGFORGE_LAN_USER", "nobody"}}, "tagforge: the BMC at 127.0.0.1:" + port + " refused"},
      {"a cipher suite it does not answer", {{"TAGFORGE_LAN_CIPHER", "8"}},
       "tagforge: no answer from 127.0.0.1:" + port + " with cipher suite 8"},
  };
  for (const Case& c : cases) {
    CliResult r = Run({"ID=0", "BSN=X-1"}, c.env);
    EXPECT_EQ(r.errors.rfind(c.line, 0), 0u) << c.name << ": " << r.errors;
    EXPECT_EQ(r.output, kBanner + "       Board Serial Number: \"X-1\" (3 bytes)\n"
                                  "[ERROR] BMC is not accessible.\nReturn code = 1.\n")
        << c.name;
    EXPECT_EQ(r.status, 1) << c.name;
  }
  EXPECT_EQ(SimFru(), Fru1024());
}

TEST_F(Lan, SettingsAreCheckedBeforeAnythingIsSent) {
  WriteFileBytes(dir_.File("password"), Bytes{'s', 'e', 'c', 'r', 'e', 't', '\n'});
  chmod(dir_.File("password").c_str(), 0600);
  CliResult fromFile = Run({"ID=0"}, {{"TAGFORGE_LAN_PASSWORD_FILE", dir_.File("password")}});
  EXPECT_EQ(fromFile.status, 0) << fromFile.errors;

  chmod(dir_.File("password").c_str(), 0644);
  struct Case {
    std::map<std::string, std::string> env;
    std::string error;
  };
  const Case cases[] = {
      {{{"TAGFORGE_LAN_PASSWORD_FILE", dir_.File("password")}},
       "[ERROR] TAGFORGE_LAN_PASSWORD_FILE " + dir_.File("password") + " can be read by other users"},
      {{{"TAGFORGE_LAN_CIPHER", "17"}}, "[ERROR] TAGFORGE_LAN_CIPHER 17 is not a cipher suite this tagforge can run"},
      {{{"TAGFORGE_LAN_PRIVILEGE", "root"}}, "[ERROR] TAGFORGE_LAN_PRIVILEGE must be USER, OPERATOR or ADMIN"},
      {{{"TAGFORGE_LAN_WORKAROUNDS", "opensesspriv,bogus"}}, "[ERROR] TAGFORGE_LAN_WORKAROUNDS: unknown workaround"},
      {{{"TAGFORGE_BMC", "lan:127.0.0.1:99999"}}, "[ERROR] TAGFORGE_BMC=lan:HOST:PORT needs a port"},
  };
  for (const Case& c : cases) {
    CliResult r = Run({"ID=0"}, c.env);
    EXPECT_EQ(r.output, "") << c.error;
    EXPECT_EQ(r.errors.rfind(c.error, 0), 0u) << r.errors;
    EXPECT_EQ(r.status, 1);
  }
}

}  // namespace
