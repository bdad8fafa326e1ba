// The station: 16 boards, each an ipmi_sim of its own on loopback, programmed
// in one run on GNU parallel; then the same with two boards that fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <signal.h>
#include <unistd.h>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli_harness.h"
#include "fru_bytes.h"
#include "ipmi_sim.h"

namespace fs = std::filesystem;

namespace {

constexpr int kBoards = 16;

Bytes Template() {
  const Bytes date{0x00, 0x20, 0x57, 0xE2};
  return Image(512, {0, 0, 1, 4, 0},
               {{1, InfoArea({date, Text("Acme"), Text(""), Text("SN-0000"), Text(""), {0x00}})},
                {4, InfoArea({{0x00}, Text("Acme"), Text("Box"), Text(""), Text(""), Text("PS-0000")})}});
}

std::string Serial(const char* prefix, int board) {
  char text[16];
  snprintf(text, sizeof(text), "%s-%04d", prefix, board);
  return text;
}

std::string ReadText(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

class Station : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int b = 1; b <= kBoards; ++b) {
      const fs::path dir = fs::path(root_.path()) / ("board" + std::to_string(b));
      fs::create_directories(dir);
      WriteFileBytes((dir / "fru.bin").string(), Template());
      sims_.push_back(std::make_unique<IpmiSim>(dir, 512, 300));
    }
  }
  Bytes Fru(int board) const {
    return ReadFileBytes((fs::path(root_.path()) / ("board" + std::to_string(board)) / "fru.bin").string());
  }
  // Runs the station over the boards (board 1 given an address with nothing behind it when asked).
  int RunStation(const std::string& name, bool deadFirst, std::string* output) {
    std::ofstream manifest(root_.File(name + ".csv"));
    manifest << "# board, then its tokens\n";
    for (int b = 1; b <= kBoards; ++b) {
      const int port = deadFirst && b == 1 ? FreePort(SOCK_DGRAM) : sims_[b - 1]->LanPort();
      manifest << "lan:127.0.0.1:" << port << ",ID=0,BSN=" << Serial("SN", b) << ",\"PSN=" << Serial("PS", b)
               << "\"\n";
    }
    manifest.close();
    const std::string command =
        "cd " + root_.path() + " && STATION_OUT=" + name + " TAGFORGE=" + TAGFORGE_BINARY + " STATION_TOOL=" +
        STATION_TOOL + " TAGFORGE_JOURNAL=" + root_.File("journal") + " TAGFORGE_LAN_USER=admin TAGFORGE_LAN_PASSWORD=secret TAGFORGE_LAN_WORKAROUNDS=opensesspriv " +
        TAGFORGE_SOURCE_DIR + "/scripts/station.sh " + name + ".csv 16 > " + name + ".out 2> " + name + ".err";
    const int status = std::system(command.c_str());
    *output = ReadText(root_.File(name + ".out"));
    return WEXITSTATUS(status);
  }
  std::vector<nlohmann::json> Records(const std::string& name) {
    std::vector<nlohmann::json> records;
    std::ifstream in(root_.File(name + "/results.jsonl"));
    for (std::string line; std::getline(in, line);) records.push_back(nlohmann::json::parse(line));
    return records;
  }

  TempDir root_;
  std::vector<std::unique_ptr<IpmiSim>> sims_;
};

std::string FieldText(const nlohmann::json& record, const std::string& name) {
  for (const auto& field : record["fields"]) {
    if (field["name"] == name && field.contains("text")) return field["text"];
  }
  return "";
}

TEST_F(Station, SixteenBoardsEachGetTheirOwnValues) {
  std::string output;
  EXPECT_EQ(RunStation("all", false, &output), 0) << output;
  EXPECT_NE(output.find("16 boards, 16 programmed, 0 failed\n"), std::string::npos) << output;
  for (int b = 1; b <= kBoards; ++b) {
    const Bytes bytes = Fru(b);
    const std::string fru(bytes.begin(), bytes.end());
    EXPECT_NE(fru.find(Serial("SN", b)), std::string::npos) << b;
    EXPECT_NE(fru.find(Serial("PS", b)), std::string::npos) << b;
    for (int other = 1; other <= kBoards; ++other) {
      if (other == b) continue;
      EXPECT_EQ(fru.find(Serial("SN", other)), std::string::npos) << b << " holds " << other;
    }
  }
  const std::vector<nlohmann::json> records = Records("all");
  ASSERT_EQ(records.size(), static_cast<size_t>(kBoards));
  for (const nlohmann::json& r : records) {
    const std::string bmc = r["bmc"];
    int board = 0;
    for (int b = 1; b <= kBoards; ++b) {
      if (bmc == "lan:127.0.0.1:" + std::to_string(sims_[b - 1]->LanPort())) board = b;
    }
    ASSERT_NE(board, 0) << bmc;
    EXPECT_EQ(r["status"], 0);
    EXPECT_EQ(r["mode"], "edit");
    EXPECT_EQ(FieldText(r, "Board Serial Number"), Serial("SN", board));
    EXPECT_EQ(FieldText(r, "Product Serial Number"), Serial("PS", board));
  }
}

TEST_F(Station, AFailingBoardFailsAlone) {
  // Board 1's address has nothing behind it; board 16's BMC has another password than the station's.
  sims_[kBoards - 1].reset();
  sims_[kBoards - 1] = std::make_unique<IpmiSim>(fs::path(root_.path()) / ("board" + std::to_string(kBoards)), 512, 300,
                                                 "other");
  std::string output;
  EXPECT_NE(RunStation("two_fail", true, &output), 0);
  EXPECT_NE(output.find("16 boards, 14 programmed, 2 failed\n"), std::string::npos) << output;
  // The cause the operator can act on, not the tool's general "not accessible": a dead board and a wrong password differ.
  EXPECT_NE(output.find("tagforge: no answer from 127.0.0.1:"), std::string::npos) << output;
  EXPECT_NE(output.find("refused the user or the password"), std::string::npos) << output;
  EXPECT_NE(output.find("To program the failed boards again: scripts/station.sh two_fail/failed.csv"),
            std::string::npos);
  EXPECT_EQ(Fru(1), Template());
  EXPECT_EQ(Fru(kBoards), Template());
  for (int b = 2; b < kBoards; ++b) {
    const Bytes bytes = Fru(b);
    const std::string fru(bytes.begin(), bytes.end());
    EXPECT_NE(fru.find(Serial("SN", b)), std::string::npos) << b;
  }
  EXPECT_EQ(Records("two_fail").size(), static_cast<size_t>(kBoards));
  const std::string failed = ReadText(root_.File("two_fail/failed.csv"));
  EXPECT_EQ(std::count(failed.begin(), failed.end(), '\n'), 2) << failed;
}

// The tagforge processes of this test's station (their journal is in root) that have stopped themselves,
// once there are count of them.
std::vector<pid_t> StoppedRuns(const std::string& root, size_t count) {
  std::vector<pid_t> found;
  for (int tries = 0; tries < 1500 && found.size() < count; ++tries) {  // at most 30 s
    found.clear();
    for (const auto& entry : fs::directory_iterator("/proc")) {
      std::ifstream stat(entry.path() / "stat");
      std::string pid, name, state;
      if (!(stat >> pid >> name >> state) || name != "(tagforge)" || state != "T") continue;
      if (ReadText((entry.path() / "environ").string()).find("TAGFORGE_JOURNAL=" + root) == std::string::npos) continue;
      found.push_back(std::stoi(pid));
    }
    usleep(20000);
  }
  return found;
}

// Ctrl-C while every board is in the middle of its write: each one stops,
// puts its FRU back (or, if it got past its last chunk first, ends written),
// and the station still writes its summary and failed manifest.
TEST(StationInterrupted, EveryBoardEndsRestoredOrWrittenAndTheSummaryIsThere) {
  constexpr int kRack = 6;
  TempDir root;
  std::ofstream manifest(root.File("rack.csv"));
  for (int b = 1; b <= kRack; ++b) {
    WriteFileBytes(root.File("board" + std::to_string(b) + ".bin"), Template());
    // A longer manufacturer moves the product area: several chunks change.
    manifest << "sim:" << root.File("board" + std::to_string(b) + ".bin") << ",ID=0,BSN=" << Serial("SN", b)
             << ",BMF=Acme Industrial Manufacturing Works\n";
  }
  manifest.close();
  // Each board stops itself after its second chunk, so the Ctrl-C finds all of them mid-write.
  // A command put in the background by a script starts with SIGINT ignored; a terminal's does not.
  const std::string command = "cd " + root.path() + " && (STATION_OUT=out TAGFORGE=" + TAGFORGE_BINARY +
                              " STATION_TOOL=" + STATION_TOOL + " TAGFORGE_JOURNAL=" + root.File("journal") +
                              " TAGFORGE_SIM_FAULTS=signal=STOP@2 perl -e '$SIG{INT} = \"DEFAULT\"; exec @ARGV' " +
                              TAGFORGE_SOURCE_DIR + "/scripts/station.sh rack.csv 8 > station.out 2> station.err; echo $? > station.status) &" +
                              " echo $! > station.pid";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::vector<pid_t> runs = StoppedRuns(root.path(), kRack);
  ASSERT_EQ(runs.size(), static_cast<size_t>(kRack));
  const std::string station = "pgrep -f -o '^bash .*scripts/station.sh rack.csv' > " + root.File("script.pid");
  ASSERT_EQ(std::system(station.c_str()), 0);
  const pid_t script = std::stoi(ReadText(root.File("script.pid")));
  kill(script, SIGINT);
  usleep(500000);
  for (pid_t run : runs) kill(run, SIGCONT);
  for (int tries = 0; tries < 600 && !fs::exists(root.File("station.status")); ++tries) usleep(100000);
  ASSERT_TRUE(fs::exists(root.File("station.status")));
  const std::string output = ReadText(root.File("station.out"));
  EXPECT_EQ(ReadText(root.File("station.status")), "1\n") << output;
  EXPECT_NE(output.find("Interrupted: "), std::string::npos) << output;
  int written = 0;
  for (int b = 1; b <= kRack; ++b) {
    const Bytes fru = ReadFileBytes(root.File("board" + std::to_string(b) + ".bin"));
    const std::string text(fru.begin(), fru.end());
    const bool programmed = text.find(Serial("SN", b)) != std::string::npos;
    written += programmed ? 1 : 0;
    if (!programmed) {
      EXPECT_EQ(fru, Template()) << b;
    }
  }
  EXPECT_NE(output.find(std::to_string(kRack) + " boards, " + std::to_string(written) + " programmed, " +
                        std::to_string(kRack - written) + " failed\n"),
            std::string::npos)
      << output;
  const std::string failed = ReadText(root.File("out/failed.csv"));
  EXPECT_EQ(std::count(failed.begin(), failed.end(), '\n'), kRack - written) << failed;
  EXPECT_NE(ReadText(root.File("out/logs/board-1.txt")).find("[ERROR] Interrupted by SIGINT"), std::string::npos);
}

}  // namespace
