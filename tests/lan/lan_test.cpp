// tagforge over IPMI 2.0 LAN (RMCP+ through libfreeipmi) against OpenIPMI's
// ipmi_sim on a loopback UDP port: the same text and FRU bytes as on the
// simulated BMC, read back by ipmitool and decoded by FreeIPMI, and one clear
// line for each way a station's session fails.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli_harness.h"
#include "fru_bytes.h"
#include "ipmi_sim.h"
#include "processes.h"
#include "udp_relay.h"

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
  // The BMC reached through relay.
  static std::map<std::string, std::string> Through(const UdpRelay& relay,
                                                     std::map<std::string, std::string> env = {}) {
    env.emplace("TAGFORGE_BMC", "lan:127.0.0.1:" + std::to_string(relay.Port()));
    return env;
  }

  // Datagrams from tagforge up to where the edit's write lies: after a
  // listing's, a quarter into the edit's own, among the chunk writes that all
  // go before their read-back. The FRU is put back as it was afterwards.
  size_t IntoTheWrite(const std::vector<std::string>& edit) {
    size_t listed = 0;
    size_t edited = 0;
    {
      UdpRelay relay(sim_->LanPort());
      EXPECT_EQ(Run({"ID=0"}, Through(relay)).status, 0);
      listed = relay.FromClient();
    }
    {
      UdpRelay relay(sim_->LanPort());
      EXPECT_EQ(Run(edit, Through(relay)).status, 0);
      edited = relay.FromClient();
    }
    EXPECT_GT(edited, listed + 4) << listed << " " << edited;
    sim_->Stop();
    WriteFileBytes(dir_.File("fru.bin"), Fru1024());
    sim_->Start(kSimLifeSeconds);
    return listed + (edited - listed) / 4;
  }

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

// OpenIPMI's simulator answers a read of more than about 33 bytes with 0xC8:
// the first larger read is refused and the run goes back to 32 bytes for good.
// The verbose trace names every read asked for; the relay counts every request.
TEST_F(Lan, ABmcThatRefusesLargerReadsCostsOneRequestMoreAndTheSameBytes) {
  const auto trace = [](size_t offset, size_t length) {
    char line[64];
    snprintf(line, sizeof(line), "Read Fru 0 startOffset=0x%zx, length=%zu\n", offset, length);
    return std::string(line);
  };
  std::string fixedReads;
  for (size_t offset = 0; offset < 1024; offset += 32) fixedReads += trace(offset, 32);
  // One 64-byte read from 0 after the first 32 bytes; refused, so its bytes count for nothing.
  const std::string growingReads = trace(0, 32) + trace(0, 64) + fixedReads.substr(trace(0, 32).size());
  struct Seen {
    size_t datagrams;
    std::string reads;    // the trace lines
    std::string listing;  // everything else: the image's hex dump and its fields
  };
  std::map<std::string, Seen> seen;
  for (const char* fixed : {"1", "0"}) {
    UdpRelay relay(sim_->LanPort());
    const CliResult r = Run({"ID=0", "-v"}, Through(relay, {{"TAGFORGE_FIXED_READS", fixed}}));
    EXPECT_EQ(r.status, 0) << r.output << r.errors;
    Seen& s = seen[fixed];
    s.datagrams = relay.FromClient();
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
      (line.rfind("Read Fru ", 0) == 0 ? s.reads : s.listing) += line + "\n";
    }
  }
  EXPECT_EQ(seen["1"].reads, fixedReads);
  EXPECT_EQ(seen["0"].reads, growingReads);
  // The refused read is the one request more: no chunk was asked twice, no size tried after it.
  EXPECT_EQ(seen["0"].datagrams, seen["1"].datagrams + 1);
  EXPECT_EQ(seen["0"].listing, seen["1"].listing);
  EXPECT_NE(seen["1"].listing.find("SN-OLD"), std::string::npos);
  EXPECT_EQ(SimFru(), Fru1024());
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
      // ipmi_sim grants ADMIN only when it is asked for while the session opens.
      {"without opensesspriv", {{"TAGFORGE_LAN_WORKAROUNDS", ""}},
       "tagforge: the BMC at 127.0.0.1:" + port +
           " does not grant this user the privilege asked for (TAGFORGE_LAN_PRIVILEGE); if the user holds it, try "
           "TAGFORGE_LAN_WORKAROUNDS=opensesspriv\n"},
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
    // Read where the run reaches the BMC, after the tokens.
    EXPECT_EQ(r.output, kBanner + "Return code = 1.\n") << c.error;
    EXPECT_EQ(r.errors.rfind(c.error, 0), 0u) << r.errors;
    EXPECT_EQ(r.status, 1);
  }
}

TEST_F(Lan, SuitesThatLeaveTheSessionOpenAreRefusedBeforeAnythingIsSent) {
  UdpRelay relay(sim_->LanPort());
  struct Case {
    const char* cipher;
    std::string line;
  };
  const Case cases[] = {
      {"0", "[ERROR] TAGFORGE_LAN_CIPHER 0 has no authentication: the BMC would take any password; use 3, 8 or 12\n"},
      {"1", "[ERROR] TAGFORGE_LAN_CIPHER 1 has no integrity and no confidentiality (the FRU data crosses the network "
            "readable and alterable); set TAGFORGE_LAN_CLEARTEXT=1 to allow it\n"},
  };
  for (const Case& c : cases) {
    CliResult r = Run({"ID=0", "BSN=X-1"}, Through(relay, {{"TAGFORGE_LAN_CIPHER", c.cipher}}));
    EXPECT_EQ(r.output, kBanner + "       Board Serial Number: \"X-1\" (3 bytes)\nReturn code = 1.\n") << c.cipher;
    EXPECT_EQ(r.errors, c.line);
    EXPECT_EQ(r.status, 1) << c.cipher;
  }
  EXPECT_EQ(relay.FromClient(), 0u);
  EXPECT_EQ(SimFru(), Fru1024());

  // Allowed, they run: ipmi_sim offers both.
  for (const char* cipher : {"1", "2"}) {
    CliResult r = Run({"ID=0"}, Through(relay, {{"TAGFORGE_LAN_CIPHER", cipher}, {"TAGFORGE_LAN_CLEARTEXT", "1"}}));
    EXPECT_EQ(r.status, 0) << cipher << ": " << r.errors;
    EXPECT_EQ(WithoutBmcLines(r.output, false), WithoutBmcLines(OnSimulatedBmc({"ID=0"}), false)) << cipher;
  }
  EXPECT_GT(relay.FromClient(), 0u);
}

TEST_F(Lan, BpnAloneWouldStampTheStationsOwnBoardNameAndIsRefused) {
  UdpRelay relay(sim_->LanPort());
  CliResult r = Run({"ID=0", "BPN", "BSN=X-1"}, Through(relay));
  EXPECT_EQ(r.output, kBanner + "[ERROR] BPN without a value takes this machine's board name, not the board at "
                                "lan:127.0.0.1:" + std::to_string(relay.Port()) + "; give BPN=NAME\nReturn code = 1.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(relay.FromClient(), 0u);
}

const std::vector<std::string> kLanEdit = {"ID=0", "BSN=SN-NEW-0001", "PPN=Crate-0001"};

// The BMC restarts (its sessions gone) half way through a listing and half way
// through an edit's datagrams: the session is opened again and the run ends as
// if nothing had happened.
TEST_F(Lan, ABmcRestartedInTheMiddleOfARunIsReachedAgain) {
  const std::vector<std::string> runs[] = {{"ID=0"}, kLanEdit};
  for (const auto& args : runs) {
    size_t total = 0;
    {
      UdpRelay counting(sim_->LanPort());
      ASSERT_EQ(Run(args, Through(counting)).status, 0);
      total = counting.FromClient();
    }
    sim_->Stop();
    WriteFileBytes(dir_.File("fru.bin"), Fru1024());
    sim_->Start(kSimLifeSeconds);
    UdpRelay relay(sim_->LanPort(), total / 2);
    std::thread restart([&] {
      for (int tries = 0; tries < 1500 && relay.FromClient() <= total / 2; ++tries) usleep(20000);
      sim_->Stop();
      sim_->Start(kSimLifeSeconds);
      relay.ForwardAgain();
    });
    CliResult r = Run(args, Through(relay));
    restart.join();
    EXPECT_EQ(r.status, 0) << r.output << r.errors;
    EXPECT_EQ(WithoutBmcLines(r.output, false), WithoutBmcLines(OnSimulatedBmc(args), false));
  }
  EXPECT_EQ(SimFru(), ReadFileBytes(host_.File("fru.bin")));
}


TEST_F(Lan, ABmcThatFallsSilentMidWriteIsGivenUpOnWithinAMinute) {
  UdpRelay relay(sim_->LanPort(), IntoTheWrite(kLanEdit));
  const auto start = std::chrono::steady_clock::now();
  CliResult r = Run(kLanEdit, Through(relay));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_NE(r.output.find("Write FRU data 984 bytes\n[ERROR] Write Fru 0 startOffset=0x"), std::string::npos) << r.output;
  EXPECT_TRUE(EndsWith(r.output, "[ERROR] The write failed and the FRU could not be restored: it may hold part of "
                                 "the new data\nerror.\n"))
      << r.output;
  EXPECT_EQ(r.status, 1);
  // Once for the write; once more for the restore, which gets a wait of its own.
  const std::string line = "tagforge: no answer from 127.0.0.1:" + std::to_string(relay.Port()) +
                           " within 25 s: giving up on it\n";
  EXPECT_TRUE(r.errors == line || r.errors == line + line) << r.errors;
  // The bound a station is promised: at most 30 s for the write, 30 for the restore.
  EXPECT_LT(took, std::chrono::seconds(60)) << std::chrono::duration_cast<std::chrono::seconds>(took).count();
}

TEST_F(Lan, ARunKilledMidWriteIsUndoneByTheNextRunOnTheSameBmc) {
  const size_t silentAfter = IntoTheWrite(kLanEdit);
  OnSimulatedBmc(kLanEdit);  // the image the edit writes, on a FRU file of its own
  UdpRelay relay(sim_->LanPort(), silentAfter);
  CliResult killed;
  std::thread run([&] { killed = Run(kLanEdit, Through(relay)); });
  const pid_t pid =
      WaitForProcess([](const ProcessState& p) { return p.parent == getpid() && p.name == "(tagforge)"; });
  // Killed from outside while it waits for a BMC gone silent in the middle of its write.
  for (int tries = 0; tries < 1500 && relay.FromClient() <= silentAfter; ++tries) usleep(20000);
  if (pid > 0) kill(pid, SIGKILL);
  run.join();
  ASSERT_EQ(killed.status, 128 + SIGKILL) << killed.output;
  ASSERT_NE(SimFru(), Fru1024());  // torn

  relay.ForwardAgain();
  // Named another way, it is the same BMC: its journal entry is found.
  CliResult listing = Run({"ID=0"}, {{"TAGFORGE_BMC", "lan:localhost:" + std::to_string(relay.Port())}});
  EXPECT_EQ(listing.status, 0) << listing.output << listing.errors;
  EXPECT_NE(listing.output.find("FRU data read from BMC: ID=0\nRestored the FRU data that an interrupted run left "
                                "half written\n"),
            std::string::npos)
      << listing.output;
  EXPECT_EQ(SimFru(), Fru1024());
  CliResult again = Run(kLanEdit, Through(relay));
  EXPECT_TRUE(EndsWith(again.output, "done.\n")) << again.output;
  EXPECT_EQ(SimFru(), ReadFileBytes(host_.File("fru.bin")));
}

TEST(LanIpv6, AnAddressInBracketsReachesABmcOnIpv6) {
  TempDir dir;
  WriteFileBytes(dir.File("fru.bin"), Fru1024());
  IpmiSim sim(dir.path(), 1024, kSimLifeSeconds, "secret", "::1");
  const std::map<std::string, std::string> env = {{"TAGFORGE_LAN_USER", "admin"},
                                                  {"TAGFORGE_LAN_PASSWORD", "secret"},
                                                  {"TAGFORGE_LAN_WORKAROUNDS", "opensesspriv"}};
  const std::string port = std::to_string(sim.LanPort());
  auto run = [&](const std::string& bmc, std::vector<std::string> args) {
    std::map<std::string, std::string> withBmc = env;
    withBmc.emplace("TAGFORGE_BMC", bmc);
    return RunTagforge(CliRun{std::move(args), withBmc, "", dir.path()});
  };
  CliResult edit = run("lan:[::1]:" + port, {"ID=0", "BSN=V6-01"});
  EXPECT_EQ(edit.status, 0) << edit.output << edit.errors;
  CliResult list = run("lan:[0:0::1]:" + port, {"ID=0"});
  EXPECT_NE(list.output.find("V6-01"), std::string::npos) << list.output << list.errors;

  CliResult bare = run("lan:::1:" + port, {"ID=0"});
  EXPECT_EQ(bare.errors, "[ERROR] TAGFORGE_BMC=lan:::1:" + port +
                             ": an IPv6 address goes in brackets: lan:[ADDRESS] or lan:[ADDRESS]:PORT\n");
  EXPECT_EQ(bare.status, 1);
}

// A Ctrl-C while the run waits on its BMC before any write: the session is
// closed and the run ends by the signal, even when the BMC answers again right
// after. Carried on, the run would write the board the operator stopped.
TEST_F(Lan, ACtrlCBeforeTheWriteEndsTheRunByItAndWritesNothing) {
  UdpRelay relay(sim_->LanPort(), 20);  // past the session's set-up, into the 32-byte reads
  CliResult r;
  std::thread run([&] {
    std::map<std::string, std::string> env = Through(relay, {{"TAGFORGE_FIXED_READS", "1"}});
    r = Run({"ID=0", "BSN=SN-STOPPED"}, env);
  });
  for (int tries = 0; tries < 500 && relay.FromClient() <= 20; ++tries) usleep(20000);
  const pid_t pid =
      WaitForProcess([](const ProcessState& p) { return p.parent == getpid() && p.name == "(tagforge)"; });
  ASSERT_GT(pid, 0);
  kill(pid, SIGINT);
  relay.ForwardAgain();
  run.join();
  EXPECT_EQ(r.status, 128 + SIGINT) << r.output << r.errors;
  EXPECT_TRUE(r.signalled);
  // Ended as the answer came, the session closed: no request after it, nothing more said.
  const std::string read = "FRU data read from BMC: ID=0\n";
  EXPECT_EQ(r.output.substr(r.output.size() - std::min(r.output.size(), read.size())), read);
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.output.find("Write FRU data"), std::string::npos) << r.output;
  EXPECT_EQ(SimFru(), Fru1024());
}

}  // namespace
