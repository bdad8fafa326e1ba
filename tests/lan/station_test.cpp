// The station: 16 boards, each an ipmi_sim of its own on loopback, programmed
// in one run on GNU parallel; then the same with two boards that fail. Around
// them: two boards on one BMC, manifests refused whole, summaries of damaged
// results files, and the boards handed to another host over a stand-in ssh.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <memory>
#include <poll.h>
#include <thread>
#include <set>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli_harness.h"
#include "fru_bytes.h"
#include "ipmi_sim.h"

namespace fs = std::filesystem;

namespace {

constexpr int kBoards = 16;
constexpr const char* kLanSettings = "TAGFORGE_LAN_USER=admin TAGFORGE_LAN_WORKAROUNDS=opensesspriv ";
constexpr const char* kSummaryHeader = "line  BMC                              FRU ID result     cause\n";

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

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// One row of the summary table, in its columns.
std::string Row(int line, const std::string& bmc, int fruId, const std::string& result, const std::string& cause) {
  char row[256];
  snprintf(row, sizeof(row), "%-5d %-32s %-6d %-10s %s", line, bmc.c_str(), fruId, result.c_str(), cause.c_str());
  std::string text = row;
  return text.erase(text.find_last_not_of(' ') + 1) + "\n";
}

// The summary's row for a manifest line.
std::string RowOf(const std::string& output, int line) {
  for (const std::string& row : Lines(output)) {
    if (row.rfind(std::to_string(line) + " ", 0) == 0) return row;
  }
  return "";
}

struct StationRun {
  int status = -1;
  std::string output;  // standard output
  std::string errors;  // standard error
};

// scripts/station.sh in dir with the given settings (after the test's own journal, so they may replace it);
// TAGFORGE_LAN_PASSWORD only when the settings give it.
StationRun RunStationScript(const std::string& dir, const std::string& manifest, const std::string& settings,
                            const std::string& out, int jobs = 16) {
  const std::string command = "cd " + dir + " && env -u TAGFORGE_LAN_PASSWORD -u STATION_HOSTS STATION_OUT=" + out +
                              " TAGFORGE=" + TAGFORGE_BINARY + " STATION_TOOL=" + STATION_TOOL +
                              " TAGFORGE_JOURNAL=" + dir + "/journal " + settings + " " + TAGFORGE_SOURCE_DIR +
                              "/scripts/station.sh " + manifest + " " + std::to_string(jobs) + " > " + out +
                              ".out 2> " + out + ".err";
  StationRun run;
  run.status = WEXITSTATUS(std::system(command.c_str()));
  run.output = ReadText(dir + "/" + out + ".out");
  run.errors = ReadText(dir + "/" + out + ".err");
  return run;
}

std::vector<nlohmann::json> RecordsIn(const std::string& path) {
  std::vector<nlohmann::json> records;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) records.push_back(nlohmann::json::parse(line));
  return records;
}

class Station : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_.File("journal"));
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
  std::string Bmc(int board) const { return "lan:127.0.0.1:" + std::to_string(sims_[board - 1]->LanPort()); }
  // Runs the station over the boards (board 1 given an address with nothing behind it when asked);
  // board b is manifest line b + 1.
  StationRun RunStation(const std::string& name, bool deadFirst) {
    std::ofstream manifest(root_.File(name + ".csv"));
    // Saved on Windows (CR LF), with a value holding a comma and one holding a doubled quote.
    manifest << "# board, then its tokens\r\n";
    for (int b = 1; b <= kBoards; ++b) {
      const std::string bmc = deadFirst && b == 1 ? "lan:127.0.0.1:" + std::to_string(FreePort(SOCK_DGRAM)) : Bmc(b);
      manifest << bmc << ",ID=0,BSN=" << Serial("SN", b) << ",\"PSN=" << Serial("PS", b)
               << "\",\"PPN=EX-1000 Server, rev B\",\"PMF=19\"\" rack\"\r\n";
    }
    manifest.close();
    return RunStationScript(root_.path(), name + ".csv", std::string(kLanSettings) + "TAGFORGE_LAN_PASSWORD=secret",
                            name);
  }
  std::vector<nlohmann::json> Records(const std::string& name) { return RecordsIn(root_.File(name + "/results.jsonl")); }

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
  const StationRun run = RunStation("all", false);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("16 boards: 16 programmed, 0 listed, 0 failed\n"), std::string::npos) << run.output;
  for (int b = 1; b <= kBoards; ++b) {
    const Bytes bytes = Fru(b);
    const std::string fru(bytes.begin(), bytes.end());
    EXPECT_NE(fru.find(Serial("SN", b)), std::string::npos) << b;
    EXPECT_NE(fru.find(Serial("PS", b)), std::string::npos) << b;
    for (int other = 1; other <= kBoards; ++other) {
      if (other == b) continue;
      EXPECT_EQ(fru.find(Serial("SN", other)), std::string::npos) << b << " holds " << other;
    }
    EXPECT_EQ(RowOf(run.output, b + 1) + "\n", Row(b + 1, Bmc(b), 0, "programmed", "")) << run.output;
  }
  // Records are in manifest order and joined by their tag, the manifest line.
  const std::vector<nlohmann::json> records = Records("all");
  ASSERT_EQ(records.size(), static_cast<size_t>(kBoards));
  for (int b = 1; b <= kBoards; ++b) {
    const nlohmann::json& r = records[b - 1];
    EXPECT_EQ(r["tag"], std::to_string(b + 1));
    EXPECT_EQ(r["bmc"], Bmc(b));
    EXPECT_EQ(r["status"], 0);
    EXPECT_EQ(r["mode"], "edit");
    EXPECT_EQ(FieldText(r, "Board Serial Number"), Serial("SN", b));
    EXPECT_EQ(FieldText(r, "Product Serial Number"), Serial("PS", b));
  }
  // Without a terminal: one short line per finished board, counted in order.
  EXPECT_LT(run.errors.size(), 200u * kBoards);
  const std::vector<std::string> progress = Lines(run.errors);
  ASSERT_EQ(progress.size(), static_cast<size_t>(kBoards)) << run.errors;
  std::set<std::string> boards;
  for (size_t i = 0; i < progress.size(); ++i) {
    const std::string counter = "[" + std::to_string(i + 1) + "/16] ";
    ASSERT_EQ(progress[i].rfind(counter, 0), 0u) << progress[i];
    boards.insert(progress[i].substr(counter.size()));
  }
  for (int b = 1; b <= kBoards; ++b) {
    EXPECT_EQ(boards.count("line " + std::to_string(b + 1) + " " + Bmc(b) + " programmed"), 1u) << run.errors;
  }
}

TEST_F(Station, AFailingBoardFailsAlone) {
  // Board 1's address has nothing behind it; board 16's BMC has another password than the station's.
  sims_[kBoards - 1].reset();
  sims_[kBoards - 1] = std::make_unique<IpmiSim>(fs::path(root_.path()) / ("board" + std::to_string(kBoards)), 512, 300,
                                                 "other");
  const StationRun run = RunStation("two_fail", true);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("16 boards: 14 programmed, 0 listed, 2 failed\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("To program the failed boards again: scripts/station.sh two_fail/failed.csv"),
            std::string::npos);
  // Each failed row names its own cause: the line tagforge printed on standard error, not the common one after it.
  const std::string dead = RowOf(run.output, 2), refused = RowOf(run.output, kBoards + 1);
  EXPECT_NE(dead.find(" FAILED     tagforge: no answer from 127.0.0.1:"), std::string::npos) << run.output;
  EXPECT_NE(refused.find(" FAILED     tagforge: the BMC at " + Bmc(kBoards).substr(4) + " refused the user or the password"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(Fru(1), Template());
  EXPECT_EQ(Fru(kBoards), Template());
  for (int b = 2; b < kBoards; ++b) {
    const Bytes bytes = Fru(b);
    const std::string fru(bytes.begin(), bytes.end());
    EXPECT_NE(fru.find(Serial("SN", b)), std::string::npos) << b;
  }
  EXPECT_EQ(Records("two_fail").size(), static_cast<size_t>(kBoards));
  // Each failed line keeps the rack's line number, so that a rerun's rows and records do too.
  const std::vector<std::string> failed = Lines(ReadText(root_.File("two_fail/failed.csv")));
  ASSERT_EQ(failed.size(), 4u);
  EXPECT_EQ(failed[0], "# line 2 of two_fail.csv");
  EXPECT_EQ(failed[1].rfind("lan:127.0.0.1:", 0), 0u);
  EXPECT_EQ(failed[2], "# line " + std::to_string(kBoards + 1) + " of two_fail.csv");
  EXPECT_EQ(failed[3].rfind(Bmc(kBoards) + ",", 0), 0u);
  // FreeIPMI finds each value exactly as the manifest meant it.
  for (int b = 2; b < kBoards; ++b) {
    const std::string fru = (fs::path(root_.path()) / ("board" + std::to_string(b)) / "fru.bin").string();
    const std::string decode = "timeout 20 ipmi-fru --fru-file=" + fru + " > " + root_.File("decoded.txt") + " 2>&1";
    ASSERT_EQ(std::system(decode.c_str()), 0);
    const std::string decoded = ReadText(root_.File("decoded.txt"));
    for (const std::string& line : {"FRU Board Serial Number: " + Serial("SN", b), "FRU Product Serial Number: " + Serial("PS", b),
                                    std::string("FRU Product Name: EX-1000 Server, rev B"),
                                    std::string("FRU Product Manufacturer Name: 19\" rack")}) {
      EXPECT_NE(decoded.find(line + "\n"), std::string::npos) << b << ": " << line << "\n" << decoded;
    }
  }
  // Once the board with the other password is given the station's, a rerun of failed.csv programs it.
  const fs::path conf = fs::path(root_.path()) / ("board" + std::to_string(kBoards)) / "lan.conf";
  std::string text = ReadText(conf.string());
  text.replace(text.find("\"other\""), 7, "\"secret\"");
  sims_[kBoards - 1]->Stop();
  std::ofstream(conf) << text;
  sims_[kBoards - 1]->Start(300);  // the same ports, the station's password
  const StationRun again = RunStationScript(root_.path(), "two_fail/failed.csv",
                                            std::string(kLanSettings) + "TAGFORGE_LAN_PASSWORD=secret", "rerun");
  EXPECT_NE(again.output.find("2 boards: 1 programmed, 0 listed, 1 failed\n"), std::string::npos) << again.output;
  EXPECT_NE(RowOf(again.output, 2).find(" FAILED "), std::string::npos) << again.output;
  EXPECT_NE(RowOf(again.output, kBoards + 1).find(" programmed"), std::string::npos) << again.output;
  EXPECT_EQ(Records("rerun").size(), 2u);
  EXPECT_TRUE(fs::exists(root_.File("rerun/records/line-" + std::to_string(kBoards + 1) + ".jsonl")));
  EXPECT_EQ(ReadText(root_.File("rerun/failed.csv")), failed[0] + "\n" + failed[1] + "\n");
  const Bytes last = Fru(kBoards);
  EXPECT_NE(std::string(last.begin(), last.end()).find(Serial("SN", kBoards)), std::string::npos);
}

// Two boards behind one BMC (FRU 0 and FRU 1, the second too small for its
// edit) run one after another in one job, each with its own record and log.
TEST(StationSharedBmc, TwoFruIdsRunInTurnAndFailApart) {
  TempDir root;
  fs::create_directories(root.File("journal"));
  WriteFileBytes(root.File("fru.bin"), Template());
  WriteFileBytes(root.File("fru1.bin"), Bytes(16, 0));
  IpmiSim sim(root.path(), 512, 120, "secret", "127.0.0.1", 16);
  const std::string bmc = "lan:127.0.0.1:" + std::to_string(sim.LanPort());
  std::ofstream(root.File("rack.csv")) << "# one BMC, two FRUs\n" << bmc << ",ID=0,BSN=SN-0001\n" << bmc << ",ID=1,BSN=SN-0002\n";
  const StationRun run =
      RunStationScript(root.path(), "rack.csv", std::string(kLanSettings) + "TAGFORGE_LAN_PASSWORD=secret", "out");
  EXPECT_EQ(run.status, 1) << run.output << run.errors;
  EXPECT_EQ(run.output, "Results: out/results.jsonl\n" + std::string(kSummaryHeader) + Row(2, bmc, 0, "programmed", "") +
                            Row(3, bmc, 1, "FAILED", "[ERROR] New size is over FRU's capacity: new size=32, capacity=16") +
                            "2 boards: 1 programmed, 0 listed, 1 failed\n"
                            "To program the failed boards again: scripts/station.sh out/failed.csv\n");
  EXPECT_EQ(ReadText(root.File("out/failed.csv")), "# line 3 of rack.csv\n" + bmc + ",ID=1,BSN=SN-0002\n");
  const std::vector<nlohmann::json> records = RecordsIn(root.File("out/results.jsonl"));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]["tag"], "2");
  EXPECT_EQ(records[1]["tag"], "3");
  EXPECT_NE(ReadText(root.File("out/logs/line-2.txt")).find("done."), std::string::npos);
  EXPECT_NE(ReadText(root.File("out/logs/line-3.txt")).find("error."), std::string::npos);
  // Never at the same time: the job log holds one job, which runs line 2 and then line 3.
  const std::vector<std::string> jobs = Lines(ReadText(root.File("out/joblog.txt")));
  ASSERT_EQ(jobs.size(), 2u) << ReadText(root.File("out/joblog.txt"));
  const size_t first = jobs[1].find("TAGFORGE_REPORT_TAG=2 "), second = jobs[1].find("TAGFORGE_REPORT_TAG=3 ");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
}

struct RefusedCase {
  const char* name;
  std::string lines;     // after a good line on a dead port; "@" stands for the test's folder
  const char* settings;  // more settings for the station
  const char* errors;    // standard error, exactly ("@" as above)
};

// The case's text with "@" as the folder and "FORMS" as the devices a manifest accepts.
std::string WithRoot(std::string text, const std::string& root) {
  for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + root.size())) {
    text.replace(at, 1, root);
  }
  const std::string forms =
      "give lan:HOST or lan:HOST:PORT (IPv6 as lan:[fd00::17]:623), or eeprom:PATH for a card's EEPROM in the station's "
      "programming fixture";
  for (size_t at = text.find("FORMS"); at != std::string::npos; at = text.find("FORMS", at + forms.size())) {
    text.replace(at, 5, forms);
  }
  return text;
}

// A manifest or a setting the station cannot run ends it before any board:
// status 2, one line per problem, no log, no record, no file of a BMC touched.
TEST(StationRefused, NothingRunsAndEachProblemIsNamed) {
  const RefusedCase cases[] = {
      {"neither a BMC on the network nor an EEPROM", "sim:@/board.bin,ID=0\nkernel,ID=0\nports,ID=0\nlan:,ID=0\nfile:@/board.bin,ID=0\n", "",
       "station: manifest line 2: \"sim:@/board.bin\" is neither a BMC on the network nor an EEPROM: FORMS\n"
       "station: manifest line 3: \"kernel\" is neither a BMC on the network nor an EEPROM: FORMS\n"
       "station: manifest line 4: \"ports\" is neither a BMC on the network nor an EEPROM: FORMS\n"
       "station: manifest line 5: \"lan:\" names no host\n"
       "station: manifest line 6: \"file:@/board.bin\" is neither a BMC on the network nor an EEPROM: FORMS\n"},
      {"EEPROM paths and FRU IDs", "eeprom:board.bin,ID=0\neeprom:,ID=0\neeprom:@/board.bin,ID=1\neeprom:@/board.bin,BSN=X\n", "",
       "station: manifest line 2: \"eeprom:board.bin\" needs an absolute path (eeprom:/sys/bus/i2c/devices/N-00AA/eeprom)\n"
       "station: manifest line 3: \"eeprom:\" needs an absolute path (eeprom:/sys/bus/i2c/devices/N-00AA/eeprom)\n"
       "station: manifest line 4: an EEPROM holds one FRU: give ID=0, not ID=1\n"
       "station: manifest line 5: no ID=N token (the FRU ID, 0 to 255)\n"},
      // "@/fixture" is a symbolic link to "@"; "@/card" does not exist.
      {"one EEPROM twice",
       "eeprom:@/board.bin,ID=0\neeprom:@//./board.bin,ID=0\neeprom:@/fixture/board.bin,ID=0\n"
       "eeprom:@/card/../board.bin,ID=0\neeprom:@/fixture/board2.bin,ID=0\n",
       "",
       "station: manifest line 3: the same EEPROM as line 2\n"
       "station: manifest line 4: the same EEPROM as line 2\n"
       "station: manifest line 5: the same EEPROM as line 2\n"},
      {"ports and addresses", "lan:fd00::17,ID=0\nlan:10.0.5.17:0,ID=0\nlan:[10.0.5.17],ID=0\nlan:a b,ID=0\n", "",
       "station: manifest line 2: \"lan:fd00::17\" holds an IPv6 address without brackets: write lan:[ADDRESS] or lan:[ADDRESS]:PORT\n"
       "station: manifest line 3: \"lan:10.0.5.17:0\" needs a port from 1 to 65535\n"
       "station: manifest line 4: \"lan:[10.0.5.17]\": only an IPv6 address goes in brackets\n"
       "station: manifest line 5: \"lan:a b\" names neither an address nor a host name\n"},
      {"FRU IDs", "lan:10.0.5.17,BSN=X\nlan:10.0.5.18,ID=0,id=1\nlan:10.0.5.19,ID=256\n", "",
       "station: manifest line 2: no ID=N token (the FRU ID, 0 to 255)\n"
       "station: manifest line 3: more than one ID= token\n"
       "station: manifest line 4: \"ID=256\" needs a FRU ID from 0 to 255\n"},
      {"scanner and files", "lan:10.0.5.17,ID=0,BSN,BDT,-v\nlan:10.0.5.18,ID=0,BPN\nlan:10.0.5.19,ID=0,FILE=p.txt\n", "",
       "station: manifest line 2: \"BSN\" has no \"=\": it would wait for a barcode scanner, and a station has none: give BSN=VALUE\n"
       "station: manifest line 3: \"BPN\" alone would stamp the station's own board name (from the station's SMBIOS) into the board: give BPN=NAME\n"
       "station: manifest line 4: \"FILE=p.txt\" reads a parameter file, which a station does not: put its tokens on the line\n"},
      {"quotes", "lan:10.0.5.17,ID=0,\"PPN=EX-1000 Server, rev B\"\nlan:10.0.5.18,ID=0,\"BSN=X\n", "",
       "station: manifest line 3: a quote is not closed\n"},
      {"one BMC and FRU ID twice",
       "lan:10.0.5.17,ID=0\nlan:10.0.5.17:623,ID=0\nlan:10.0.1297,ID=1\nlan:10.0.5.17,ID=1\nlan:Bmc7.Rack,ID=0\n"
       "lan:bmc7.rack:623,ID=0\nlan:[fd00::17],ID=0\nlan:[fd00:0::17]:623,ID=0\nlan:10.0.5.17:624,ID=0\n"
       "lan:localhost,ID=2\nlan:127.0.0.1:623,ID=2\nlan:10.0.5.20:0623,ID=0\nlan:10.0.5.20:623,ID=0\n",
       "",
       "station: manifest line 3: the same BMC and FRU ID as line 2\n"
       "station: manifest line 5: the same BMC and FRU ID as line 4\n"
       "station: manifest line 7: the same BMC and FRU ID as line 6\n"
       "station: manifest line 9: the same BMC and FRU ID as line 8\n"
       "station: manifest line 12: the same BMC and FRU ID as line 11\n"
       "station: manifest line 14: the same BMC and FRU ID as line 13\n"},
      // The tool's own checks, the same code as tagforge --check, before any board runs.
      {"values the tool refuses",
       "lan:10.0.5.17,ID=0,BSM=typo\nlan:10.0.5.18,ID=0,BDT=2025/13/45\nlan:10.0.5.19,ID=0,BSN="
       "0123456789012345678901234567890123456789012345678901234567890123\nlan:10.0.5.20,ID=0,BVR=A\n"
       "lan:10.0.5.21,ID=0,ClearFru=no\nlan:10.0.5.22,ID=0,BSN=OK\n",
       "",
       "station: manifest line 2: [ERROR] Unsupported parameter: BSM=typo\n"
       "station: manifest line 3: [ERROR] Mfg Date/Time invalid\n"
       "station: manifest line 4: [ERROR] Parameter size > 63 bytes\n"
       "station: manifest line 5: [ERROR] BEX0: a one-character text field cannot be stored (its type/length byte would "
       "be 0xC1, the end-of-fields marker)\n"
       "station: manifest line 6: [ERROR] Unsupported parameter: ClearFru=no\n"},
      // A script whose variable came out empty would wipe the field on every board.
      {"empty and padded values",
       "lan:10.0.5.17,ID=0,BSN=\nlan:10.0.5.18,ID=0,bsn=  ,PSN=P\nlan:10.0.5.19,ID=0,BMF=EXB01 \n"
       "lan:10.0.5.20,ID=0,\"BPN=\tX\"\nlan:10.0.5.21,ID=0,ClearFru=,BDT\n",
       "",
       "station: manifest line 2: \"BSN=\" has an empty value, which erases the field: give a value, or set "
       "STATION_ALLOW_ERASE=1 to erase it on purpose\n"
       "station: manifest line 3: \"bsn=  \" has an empty value, which erases the field: give a value, or set "
       "STATION_ALLOW_ERASE=1 to erase it on purpose\n"
       "station: manifest line 4: \"BMF=EXB01 \": the value begins or ends with a blank (a spreadsheet's padding?): remove it\n"
       "station: manifest line 5: a control byte (0x09) at column 25: a manifest holds printable text only\n"
       "station: manifest line 6: \"ClearFru=\" has an empty value, which clears the whole FRU: give ClearFru=1, or set "
       "STATION_ALLOW_ERASE=1 to clear it this way on purpose\n"},
      {"an empty clear, a typed empty value, a station option on a line",
       "lan:10.0.5.17,ID=0,ClearFru=\nlan:10.0.5.18,ID=0,\"BSN=0xc0,\"\nlan:10.0.5.19,ID=0,--dry-run\n", "",
       "station: manifest line 2: \"ClearFru=\" has an empty value, which clears the whole FRU: give ClearFru=1, or set "
       "STATION_ALLOW_ERASE=1 to clear it this way on purpose\n"
       "station: manifest line 3: \"BSN=0xc0,\" has an empty value, which erases the field: give a value, or set "
       "STATION_ALLOW_ERASE=1 to erase it on purpose\n"
       "station: manifest line 4: \"--dry-run\" is not a board's token: the station's own options go before the manifest "
       "(station.sh --verify MANIFEST)\n"},
      {"control bytes and long lines",
       std::string("lan:10.0.5.17,ID=0,BSN=NUL\0X\nlan:10.0.5.18,ID=0,BSN=\x1b[1m\nlan:10.0.5.19,ID=0,BSN=", 80) +
           std::string(4100, 'x') + "\n",
       "",
       "station: manifest line 2: a control byte (0x00) at column 27: a manifest holds printable text only\n"
       "station: manifest line 3: a control byte (0x1B) at column 24: a manifest holds printable text only\n"
       "station: manifest line 4: the line is longer than 4096 bytes\n"},
      // A failed manifest's lines keep their rack numbers; two lines must not claim one.
      {"one rack number twice", "# line 7 of rack.csv\nlan:10.0.5.17,ID=0\n# line 7 of rack.csv\nlan:10.0.5.18,ID=0\n", "",
       "station: manifest line 5: board number 7 is taken already by line 3\n"},
      {"the password on the command line of other hosts", "", "STATION_HOSTS=rack-host-2 TAGFORGE_LAN_PASSWORD=secret",
       "station: with STATION_HOSTS, TAGFORGE_LAN_PASSWORD is not sent to other hosts: use TAGFORGE_LAN_PASSWORD_FILE, "
       "read on each host from the same path\n"},
      {"a journal other hosts cannot share", "", "STATION_HOSTS=rack-host-2 TAGFORGE_JOURNAL=journal",
       "station: with STATION_HOSTS, TAGFORGE_JOURNAL must be the absolute path of a folder every host shares\n"},
      {"a chip that holds no FRU named for erasing", "", "TAGFORGE_ERASE_NON_FRU=/dev/null",
       "station: TAGFORGE_ERASE_NON_FRU is for one chip at a time by hand, never for a station: unset it\n"},
      // tagforge would refuse to write in it on every host.
      {"a shared journal others can write", "", "STATION_HOSTS=rack-host-2 TAGFORGE_JOURNAL=@/open-journal",
       "station: with STATION_HOSTS, TAGFORGE_JOURNAL must not be writable by its group or others (chmod go-w): "
       "@/open-journal\n"},
  };
  for (const RefusedCase& c : cases) {
    TempDir root;
    fs::create_directories(root.File("journal"));
    fs::create_directories(root.File("open-journal"));
    fs::permissions(root.File("open-journal"), fs::perms::all);
    fs::create_directory_symlink(root.path(), root.File("fixture"));
    const std::string dead = "lan:127.0.0.1:" + std::to_string(FreePort(SOCK_DGRAM));
    std::ofstream(root.File("rack.csv")) << dead << ",ID=0,BSN=SN-0001\n" << WithRoot(c.lines, root.path());
    const StationRun run = RunStationScript(root.path(), "rack.csv",
                                            std::string(kLanSettings) + "TAGFORGE_LAN_PASSWORD_FILE=" + root.File("pw") +
                                                " " + WithRoot(c.settings, root.path()),
                                            "out");
    EXPECT_EQ(run.status, 2) << c.name;
    EXPECT_EQ(run.output, "") << c.name;
    EXPECT_EQ(run.errors, WithRoot(c.errors, root.path())) << c.name;
    EXPECT_FALSE(fs::exists(root.File("out"))) << c.name;
    EXPECT_FALSE(fs::exists(root.File("board.bin"))) << c.name;
    EXPECT_TRUE(fs::is_empty(root.File("journal"))) << c.name;
  }
  // No board at all is no station either.
  for (const char* manifest : {"", "# rack 7\n\n# nothing yet\n"}) {
    TempDir root;
    std::ofstream(root.File("rack.csv")) << manifest;
    const StationRun run = RunStationScript(root.path(), "rack.csv", kLanSettings, "out");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.errors, "station: the manifest names no board\n");
    EXPECT_FALSE(fs::exists(root.File("out")));
  }
}

// A stand-in for the tool that shows what reached it: its settings and each
// argument in brackets. With STAND_IN_INTERRUPTS set it sends the job's shell
// the SIGINT that parallel passes on at a Ctrl-C, while the board still runs.
std::string StandInTagforge(const TempDir& root) {
  const std::string path = root.File("stand-in-tagforge");
  std::ofstream(path) << "#!/bin/sh\n"
                         "printf 'BMC=%s TAG=%s REPORT=%s\\n' \"$TAGFORGE_BMC\" \"$TAGFORGE_REPORT_TAG\" \"$TAGFORGE_REPORT\"\n"
                         "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\n"
                         "[ -z \"$STAND_IN_INTERRUPTS\" ] || kill -INT $PPID\n";
  fs::permissions(path, fs::perms::owner_all);
  return path;
}

struct JobRun {
  std::string output;  // the job's own lines
  int status;
};

// One generated job, run by the shell parallel gives it.
JobRun RunJob(const TempDir& root, const std::string& job, const std::string& settings = "") {
  std::ofstream(root.File("job.sh")) << job << "\n";
  const std::string command = settings + " /bin/sh " + root.File("job.sh") + " > " + root.File("job.out");
  const int status = std::system(command.c_str());
  return {ReadText(root.File("job.out")), WEXITSTATUS(status)};
}

// What reaches the tool is the manifest's tokens whole: the byte order mark,
// the CR of a CRLF line and the CSV quoting stay out of them; lines on one
// BMC (under three spellings) form one job, run in manifest order.
TEST(StationJobs, TokensArriveWholeAndOneBmcIsOneJob) {
  TempDir root;
  fs::create_directories(root.File("out/logs"));
  fs::create_directories(root.File("out/records"));
  std::ofstream(root.File("rack.csv"), std::ios::binary)
      << "\xEF\xBB\xBFlan:10.0.5.17,ID=0,\"PPN=EX-1000 Server, rev B\",\"BSN=A\"\"1\"\r\n"
         "lan:10.0.5.18,ID=0,BMF=it's $HOME `x`\r\n"
         "lan:10.0.5.17:623,ID=1,BSN=B2\r\n"
         "lan:10.0.5.17:0623,ID=2\r\n";
  const std::string command = std::string(STATION_TOOL) + " jobs " + root.File("rack.csv") + " " +
                              StandInTagforge(root) + " " + root.File("out") + " > " + root.File("jobs.txt");
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::vector<std::string> jobs = Lines(ReadText(root.File("jobs.txt")));
  ASSERT_EQ(jobs.size(), 2u);
  const JobRun first = RunJob(root, jobs[0]);
  EXPECT_EQ(first.output, "1 status 0\n3 status 0\n4 status 0\n");
  EXPECT_EQ(first.status, 0);
  const JobRun second = RunJob(root, jobs[1]);
  EXPECT_EQ(second.output, "2 status 0\n");
  const std::string records = root.File("out/records");
  EXPECT_EQ(ReadText(root.File("out/logs/line-1.txt")),
            "BMC=lan:10.0.5.17 TAG=1 REPORT=" + records + "/line-1.jsonl\n[ID=0]\n[PPN=EX-1000 Server, rev B]\n[BSN=A\"1]\n");
  EXPECT_EQ(ReadText(root.File("out/logs/line-2.txt")),
            "BMC=lan:10.0.5.18 TAG=2 REPORT=" + records + "/line-2.jsonl\n[ID=0]\n[BMF=it's $HOME `x`]\n");
  EXPECT_EQ(ReadText(root.File("out/logs/line-3.txt")),
            "BMC=lan:10.0.5.17:623 TAG=3 REPORT=" + records + "/line-3.jsonl\n[ID=1]\n[BSN=B2]\n");
  EXPECT_EQ(ReadText(root.File("out/logs/line-4.txt")),
            "BMC=lan:10.0.5.17:0623 TAG=4 REPORT=" + records + "/line-4.jsonl\n[ID=2]\n");
}

// A Ctrl-C reaches the job while one of its BMC's boards runs: that board ends
// as the tool ends it, and the job starts none of the boards after it.
TEST(StationJobs, AnInterruptedJobStartsNoFurtherBoard) {
  TempDir root;
  fs::create_directories(root.File("out/logs"));
  fs::create_directories(root.File("out/records"));
  std::ofstream(root.File("rack.csv")) << "lan:10.0.5.17,ID=0,BSN=A\nlan:10.0.5.17,ID=1,BSN=B\nlan:10.0.5.17,ID=2,BSN=C\n";
  const std::string command = std::string(STATION_TOOL) + " jobs " + root.File("rack.csv") + " " +
                              StandInTagforge(root) + " " + root.File("out") + " > " + root.File("jobs.txt");
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::vector<std::string> jobs = Lines(ReadText(root.File("jobs.txt")));
  ASSERT_EQ(jobs.size(), 1u);
  const JobRun run = RunJob(root, jobs[0], "STAND_IN_INTERRUPTS=1");
  EXPECT_EQ(run.output, "1 status 0\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(fs::exists(root.File("out/logs/line-1.txt")));
  EXPECT_FALSE(fs::exists(root.File("out/logs/line-2.txt")));
  EXPECT_FALSE(fs::exists(root.File("out/logs/line-3.txt")));
}

// The fixture's EEPROMs stay on the station: with other hosts (a marker) their
// jobs leave the hosts' list and form one of their own, the same commands as
// without other hosts; the BMCs' jobs are the only ones sent away.
TEST(StationJobs, FixtureEepromsNeverGoToOtherHosts) {
  TempDir root;
  std::ofstream(root.File("rack.csv")) << "lan:10.0.5.17,ID=0,BSN=A\n"
                                          "eeprom:/sys/bus/i2c/devices/3-0050/eeprom,ID=0,BSN=B\n"
                                          "lan:10.0.5.18,ID=0\n"
                                          "eeprom:/sys/bus/i2c/devices/4-0050/eeprom,ID=0\n";
  const auto jobs = [&root](const std::string& arguments) {
    const std::string command = std::string(STATION_TOOL) + " " + arguments + " > " + root.File("jobs.txt");
    EXPECT_EQ(std::system(command.c_str()), 0) << arguments;
    return Lines(ReadText(root.File("jobs.txt")));
  };
  const std::string manifest = root.File("rack.csv");
  const std::vector<std::string> all = jobs("jobs " + manifest + " /opt/tagforge /out");
  const std::vector<std::string> away = jobs("jobs " + manifest + " /opt/tagforge /out .station-marker-7");
  const std::vector<std::string> here = jobs("fixture-jobs " + manifest + " /opt/tagforge /out");
  ASSERT_EQ(all.size(), 4u);
  EXPECT_NE(all[1].find("TAGFORGE_BMC='eeprom:/sys/bus/i2c/devices/3-0050/eeprom' TAGFORGE_REPORT_TAG=2 "),
            std::string::npos)
      << all[1];
  EXPECT_EQ(here, (std::vector<std::string>{all[1], all[3]}));
  ASSERT_EQ(away.size(), 2u);
  for (const std::string& job : away) {
    EXPECT_EQ(job.find("eeprom:"), std::string::npos) << job;
    EXPECT_NE(job.find("/'.station-marker-7' ]"), std::string::npos) << job;
  }
  EXPECT_NE(away[0].find("TAGFORGE_REPORT_TAG=1 "), std::string::npos);
  EXPECT_NE(away[1].find("TAGFORGE_REPORT_TAG=3 "), std::string::npos);
}

// A record as the host writes it, with the parts a case changes.
std::string Record(const nlohmann::json& tag, const nlohmann::json& status, const std::string& mode,
                   const nlohmann::json& errors, const nlohmann::json& fields = nlohmann::json::array()) {
  nlohmann::ordered_json record;
  record["time"] = "2025-06-07T10:00:00Z";
  // The crafted manifests put lan:10.0.0.1 on line 2 and lan:10.0.0.2 on line 3.
  record["bmc"] = tag == "3" ? "lan:10.0.0.2" : "lan:10.0.0.1";
  record["tag"] = tag;
  record["fru_id"] = 0;
  record["mode"] = mode;
  record["keywords"] = nlohmann::json::array();
  record["fields"] = fields;
  record["inventory_size"] = 512;
  record["bytes_written"] = 0;
  record["status"] = status;
  record["errors"] = errors;
  record["duration_s"] = 0.5;
  return record.dump() + "\n";
}

struct SummaryCase {
  const char* name;
  std::string results;
  std::string row2;    // the edited board's row
  std::string row3;    // the listed board's row
  std::string notes;   // standard error
};

// The summary of any results file: a line without a readable record is NO RECORD and failed, and the tool goes on.
TEST(StationSummary, EveryResultsFileGivesATableAndTotals) {
  const std::string listed = Record("3", 0, "listing", nlohmann::json::array());
  const std::string edited = Record("2", 0, "edit", nlohmann::json::array());
  const std::string never = "no record and no log: the board did not run";
  const auto failed = [](const std::string& cause) { return Row(2, "lan:10.0.0.1", 0, "FAILED", cause); };
  const auto unread = [](const std::string& why) {
    return Row(2, "lan:10.0.0.1", 0, "NO RECORD", "its record cannot be read: " + why);
  };
  const std::string listedRow = Row(3, "lan:10.0.0.2", 0, "listed", "");
  const auto with_bmc = [](const std::string& record, const std::string& bmc) {
    nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(record);
    parsed["bmc"] = bmc;
    return parsed.dump() + "\n";
  };
  const SummaryCase cases[] = {
      {"empty", "", Row(2, "lan:10.0.0.1", 0, "NO RECORD", never), Row(3, "lan:10.0.0.2", 0, "NO RECORD", never), ""},
      {"both", edited + listed, Row(2, "lan:10.0.0.1", 0, "programmed", ""), listedRow, ""},
      {"truncated", listed + edited.substr(0, 60), Row(2, "lan:10.0.0.1", 0, "NO RECORD", never), listedRow,
       "station: R line 2 is not a run record: not JSON\n"},
      {"not JSON", "garbage\n" + listed, Row(2, "lan:10.0.0.1", 0, "NO RECORD", never), listedRow,
       "station: R line 1 is not a run record: not JSON\n"},
      {"not an object", "[\"2\", 0]\n" + listed, Row(2, "lan:10.0.0.1", 0, "NO RECORD", never), listedRow,
       "station: R line 1 is not a run record: not a JSON object\n"},
      {"tag a number", Record(2, 0, "edit", nlohmann::json::array()) + listed, Row(2, "lan:10.0.0.1", 0, "NO RECORD", never),
       listedRow, "station: R line 1 is not a run record: its tag is not text\n"},
      {"errors[0] not text", Record("2", 1, "edit", {5}) + listed, unread("errors holds a value that is not text"),
       listedRow, ""},
      {"status as text", Record("2", "0", "edit", nlohmann::json::array()) + listed,
       unread("status is not a whole number"), listedRow, ""},
      {"fields not a list", Record("2", 0, "edit", nlohmann::json::array(), nlohmann::json::object()) + listed,
       unread("fields is neither a list nor null"), listedRow, ""},
      {"a listing where an edit was asked", Record("2", 0, "listing", nlohmann::json::array()) + listed,
       failed("the run ended as listing, not as edit"), listedRow, ""},
      {"no error line", Record("2", 1, "edit", nlohmann::json::array()) + listed, failed("status 1 without an error line"),
       listedRow, ""},
      {"a refused password over the common line",
       Record("2", 1, "edit", {"[ERROR] BMC is not accessible.", "tagforge: the BMC at 10.0.0.1 refused the user or the password"}) +
           listed,
       failed("tagforge: the BMC at 10.0.0.1 refused the user or the password"), listedRow, ""},
      {"no answer over the common line",
       Record("2", 1, "edit", {"tagforge: no answer from 10.0.0.1 with cipher suite 3 (...)", "[ERROR] BMC is not accessible."}) +
           listed,
       failed("tagforge: no answer from 10.0.0.1 with cipher suite 3 (...)"), listedRow, ""},
      {"a FRU not restored over its chunk",
       Record("2", 1, "edit", {"[ERROR] Write Fru 0 startOffset=0x40, length=16",
                               "[ERROR] The write failed and the FRU could not be restored: it may hold part of the new data"}) +
           listed,
       failed("[ERROR] The write failed and the FRU could not be restored: it may hold part of the new data"), listedRow, ""},
      {"a mix over its chunk",
       Record("2", 1, "edit", {"[ERROR] Write Fru 0 startOffset=0x0, length=16", "[ERROR] The FRU may now hold a mix of old and new data"}) +
           listed,
       failed("[ERROR] The FRU may now hold a mix of old and new data"), listedRow, ""},
      {"a record of another device under the line's number",
       with_bmc(Record("2", 0, "edit", nlohmann::json::array()), "lan:10.0.0.9") + listed,
       Row(2, "lan:10.0.0.1", 0, "NO RECORD", "its record names another device (lan:10.0.0.9)"), listedRow, ""},
      {"an interruption over its chunk",
       Record("2", 1, "edit", {"[ERROR] Write Fru 0 startOffset=0x10, length=16", "[ERROR] Interrupted by SIGINT"}) + listed,
       failed("[ERROR] Interrupted by SIGINT"), listedRow, ""},
  };
  TempDir root;
  std::ofstream(root.File("rack.csv")) << "# crafted\nlan:10.0.0.1,ID=0,BSN=A\nlan:10.0.0.2,ID=0\n";
  for (const SummaryCase& c : cases) {
    std::ofstream(root.File("R"), std::ios::binary) << c.results;
    const std::string command = "cd " + root.path() + " && " + STATION_TOOL +
                                " summary R rack.csv failed.csv logs > summary.out 2> summary.err";
    const int status = WEXITSTATUS(std::system(command.c_str()));
    const bool programmed = c.row2.find(" programmed") != std::string::npos;
    const bool listed = c.row3.find(" listed") != std::string::npos;
    const int failures = (programmed ? 0 : 1) + (listed ? 0 : 1);
    EXPECT_EQ(status, failures == 0 ? 0 : 1) << c.name;
    EXPECT_EQ(ReadText(root.File("summary.out")),
              kSummaryHeader + c.row2 + c.row3 + "2 boards: " + std::to_string(programmed ? 1 : 0) + " programmed, " +
                  std::to_string(listed ? 1 : 0) + " listed, " + std::to_string(failures) + " failed\n")
        << c.name;
    EXPECT_EQ(ReadText(root.File("summary.err")), c.notes) << c.name;
    const std::string failedLines =
        std::string(programmed ? "" : "# line 2 of rack.csv\nlan:10.0.0.1,ID=0,BSN=A\n") +
        (listed ? "" : "# line 3 of rack.csv\nlan:10.0.0.2,ID=0\n");
    EXPECT_EQ(ReadText(root.File("failed.csv")), failedLines) << c.name;
  }
}

// What a board's record says beyond its status: the lint's warnings about the
// FRU it left, a verify's fields, the fields its line erased. A verify is
// judged as one: a record of an edit (a station that forgot the option wrote
// the board) is no verify.
TEST(StationSummary, WarningsErasedFieldsAndVerifyResultsReachTheTable) {
  const auto with = [](std::string record, const char* key, const nlohmann::json& value) {
    nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(record);
    parsed[key] = value;
    return parsed.dump() + "\n";
  };
  const nlohmann::json lint = {{{"level", "warning"}, {"area", "Board Info Area"}, {"offset", 17},
                                {"text", "serial number is empty (Board Serial Number)"}},
                               {{"level", "error"}, {"area", "Common Header"}, {"offset", 7}, {"text", "checksum invalid"}}};
  const nlohmann::json mismatch = {{{"keyword", "BSN"}, {"name", "Board Serial Number"}, {"result", "mismatch"},
                                    {"found", "\"B\""}, {"expected", "\"A\""}},
                                   {{"keyword", "BPN"}, {"name", "Board Part Number"}, {"result", "ok"}}};
  const std::string a = "lan:10.0.0.1", b = "lan:10.0.0.2";
  struct Row2 {
    const char* name;
    const char* option;
    std::string results;
    std::string table;  // rows, totals and what follows
    int status;
    std::string failed;
  };
  const Row2 cases[] = {
      {"warnings and an erased field", "",
       with(Record("2", 0, "edit", nlohmann::json::array()), "lint", lint) +
           Record("3", 0, "edit", nlohmann::json::array()),
       Row(2, a, 0, "programmed", "[WARN] Board Info Area: serial number is empty (Board Serial Number)") +
           Row(3, b, 0, "programmed", "erased BSN") + "2 boards: 2 programmed, 0 listed, 0 failed\n1 boards have lint warnings\n",
       0, ""},
      {"verified and mismatched", "--verify ",
       Record("2", 0, "verify", nlohmann::json::array()) +
           with(Record("3", 1, "verify", {"[ERROR] Board Serial Number: the FRU holds \"B\", expected \"A\""}), "verify", mismatch),
       Row(2, a, 0, "verified", "") + Row(3, b, 0, "MISMATCH", "the FRU differs in Board Serial Number") +
           "2 boards: 1 verified, 1 mismatched, 0 failed\n",
       1, "# line 3 of rack.csv\nlan:10.0.0.2,ID=0,BSN=\n"},
      {"an edit is no verify", "--verify ",
       Record("2", 0, "edit", nlohmann::json::array()) + Record("3", 1, "verify", {"[ERROR] Read FRU data failed"}),
       Row(2, a, 0, "FAILED", "the run ended as edit, not as verify") + Row(3, b, 0, "FAILED", "[ERROR] Read FRU data failed") +
           "2 boards: 0 verified, 0 mismatched, 2 failed\n",
       1, "# line 2 of rack.csv\nlan:10.0.0.1,ID=0,BSN=A\n# line 3 of rack.csv\nlan:10.0.0.2,ID=0,BSN=\n"},
  };
  TempDir root;
  std::ofstream(root.File("rack.csv")) << "# crafted\nlan:10.0.0.1,ID=0,BSN=A\nlan:10.0.0.2,ID=0,BSN=\n";
  for (const Row2& c : cases) {
    std::ofstream(root.File("R"), std::ios::binary) << c.results;
    const std::string command = "cd " + root.path() + " && " + STATION_TOOL + " " + c.option +
                                "summary R rack.csv failed.csv logs > summary.out 2> summary.err";
    EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), c.status) << c.name;
    EXPECT_EQ(ReadText(root.File("summary.out")), kSummaryHeader + c.table) << c.name;
    EXPECT_EQ(ReadText(root.File("failed.csv")), c.failed) << c.name;
  }
}

// A stand-in for ssh as parallel calls it (HOST -- COMMAND): a host named
// rack-host-2 runs the command in a folder of its own with an empty
// environment, so a setting or a path that does not travel fails the board.
void WriteStandIn(const TempDir& root) {
  fs::create_directories(root.File("rack-host-2"));
  std::ofstream(root.File("ssh")) << "#!/bin/sh\nhost=$1; shift; [ \"$1\" = -- ] && shift\n"
                                  << "[ \"$host\" = rack-host-2 ] || { echo \"no host $host\" >&2; exit 255; }\n"
                                  << "cd " << root.File("rack-host-2") << " && exec env -i PATH=/usr/bin:/bin HOME="
                                  << root.File("rack-host-2") << " sh -c \"$*\"\n";
  fs::permissions(root.File("ssh"), fs::perms::owner_all);
}

// STATION_HOSTS hands the BMCs to another host: its jobs get the settings
// that travel, read the password from the same file, see the station's
// marker in the shared journal, and send every log and record back.
TEST(StationHosts, AnotherHostProgramsEveryBoardAndSendsItsRecordsBack) {
  constexpr int kRack = 3;
  TempDir root;
  fs::create_directories(root.File("journal"));
  WriteStandIn(root);
  std::ofstream(root.File("pw")) << "secret\n";
  fs::permissions(root.File("pw"), fs::perms::owner_read | fs::perms::owner_write);
  std::vector<std::unique_ptr<IpmiSim>> sims;
  std::ofstream manifest(root.File("rack.csv"));
  for (int b = 1; b <= kRack; ++b) {
    const fs::path dir = fs::path(root.path()) / ("board" + std::to_string(b));
    fs::create_directories(dir);
    WriteFileBytes((dir / "fru.bin").string(), Template());
    sims.push_back(std::make_unique<IpmiSim>(dir, 512, 120));
    manifest << "lan:127.0.0.1:" << sims.back()->LanPort() << ",ID=0,BSN=" << Serial("SN", b) << "\n";
  }
  manifest.close();
  const StationRun run = RunStationScript(root.path(), "rack.csv",
                                          std::string(kLanSettings) + "TAGFORGE_LAN_PASSWORD_FILE=" + root.File("pw") +
                                              " STATION_HOSTS=rack-host-2 PARALLEL_SSH=" + root.File("ssh"),
                                          "out");
  EXPECT_EQ(run.status, 0) << run.output << run.errors;
  EXPECT_NE(run.output.find("3 boards: 3 programmed, 0 listed, 0 failed\n"), std::string::npos) << run.output;
  const std::vector<nlohmann::json> records = RecordsIn(root.File("out/results.jsonl"));
  ASSERT_EQ(records.size(), static_cast<size_t>(kRack));
  for (int b = 1; b <= kRack; ++b) {
    EXPECT_EQ(records[b - 1]["tag"], std::to_string(b));
    EXPECT_EQ(FieldText(records[b - 1], "Board Serial Number"), Serial("SN", b));
    EXPECT_NE(ReadText(root.File("out/logs/line-" + std::to_string(b) + ".txt")).find("done."), std::string::npos) << b;
    const Bytes fru = ReadFileBytes(root.File("board" + std::to_string(b) + "/fru.bin"));
    EXPECT_NE(std::string(fru.begin(), fru.end()).find(Serial("SN", b)), std::string::npos) << b;
  }
  // The station took its marker away again.
  for (const auto& entry : fs::directory_iterator(root.File("journal"))) {
    EXPECT_EQ(entry.path().filename().string().find(".station-marker"), std::string::npos) << entry.path();
  }
}

// Cards in the station's programming fixture, each an EEPROM (here a plain
// file), programmed beside a BMC on the network: each card ends with the bytes
// a single run on the simulated BMC writes for its line. With other hosts the
// BMC's board goes to one and the cards stay on the station.
TEST(StationFixture, EepromsAreProgrammedOnTheStationItself) {
  for (const bool hosts : {false, true}) {
    TempDir root;
    fs::create_directories(root.File("journal"));
    fs::create_directories(root.File("board"));
    WriteStandIn(root);
    std::ofstream(root.File("pw")) << "secret\n";
    fs::permissions(root.File("pw"), fs::perms::owner_read | fs::perms::owner_write);
    WriteFileBytes(root.File("board/fru.bin"), Template());
    IpmiSim sim(root.File("board"), 512, 120);
    std::ofstream manifest(root.File("rack.csv"));
    manifest << "lan:127.0.0.1:" << sim.LanPort() << ",ID=0,BSN=SN-0001\n";
    std::vector<Bytes> expected;
    for (int card = 1; card <= 2; ++card) {
      const std::string name = "card" + std::to_string(card) + ".bin";
      const std::vector<std::string> tokens{"ID=0", "BSN=" + Serial("SN", 10 + card), "PSN=" + Serial("PS", 10 + card)};
      WriteFileBytes(root.File(name), Template());
      WriteFileBytes(root.File("single.bin"), Template());
      const CliResult single =
          RunTagforge(CliRun{tokens, {{"TAGFORGE_BMC", "sim:" + root.File("single.bin")}}, "", root.path()});
      ASSERT_EQ(single.status, 0) << single.output;
      expected.push_back(ReadFileBytes(root.File("single.bin")));
      ASSERT_NE(expected.back(), Template());
      manifest << "eeprom:" << root.File(name);
      for (const std::string& token : tokens) manifest << "," << token;
      manifest << "\n";
    }
    manifest.close();
    const std::string settings = std::string(kLanSettings) + "TAGFORGE_LAN_PASSWORD_FILE=" + root.File("pw") +
                                 (hosts ? " STATION_HOSTS=rack-host-2 PARALLEL_SSH=" + root.File("ssh") : "");
    const StationRun run = RunStationScript(root.path(), "rack.csv", settings, "out");
    EXPECT_EQ(run.status, 0) << hosts << run.output << run.errors;
    EXPECT_EQ(run.output, "Results: out/results.jsonl\n" + std::string(kSummaryHeader) +
                              Row(1, "lan:127.0.0.1:" + std::to_string(sim.LanPort()), 0, "programmed", "") +
                              Row(2, "eeprom:" + root.File("card1.bin"), 0, "programmed", "") +
                              Row(3, "eeprom:" + root.File("card2.bin"), 0, "programmed", "") +
                              "3 boards: 3 programmed, 0 listed, 0 failed\n")
        << hosts;
    for (int card = 1; card <= 2; ++card) {
      EXPECT_EQ(ReadFileBytes(root.File("card" + std::to_string(card) + ".bin")), expected[card - 1]) << hosts << card;
    }
    const Bytes fru = ReadFileBytes(root.File("board/fru.bin"));
    EXPECT_NE(std::string(fru.begin(), fru.end()).find("SN-0001"), std::string::npos) << hosts;
    EXPECT_EQ(RecordsIn(root.File("out/results.jsonl")).size(), 3u) << hosts;
    // Where each job ran, by parallel's job logs (the host column; ":" is the station):
    // the BMC's board on the other host when there is one, the cards never.
    std::vector<std::string> jobs;
    for (const char* log : {"out/joblog.txt", "out/fixture-joblog.txt"}) {
      const std::vector<std::string> lines = Lines(ReadText(root.File(log)));
      if (!lines.empty()) jobs.insert(jobs.end(), lines.begin() + 1, lines.end());  // after the header
    }
    ASSERT_EQ(jobs.size(), 3u) << hosts;
    for (const std::string& job : jobs) {
      std::istringstream columns(job);
      std::string sequence, host;
      std::getline(std::getline(columns, sequence, '\t'), host, '\t');
      const bool card = job.find("TAGFORGE_BMC='eeprom:") != std::string::npos;
      EXPECT_EQ(host, card || !hosts ? ":" : "rack-host-2") << hosts << " " << job;
    }
  }
}

// A UDP relay in front of an ipmi_sim that holds what the board sends once its
// journal entry exists (stored just before its first chunk) until released:
// the board then waits in the middle of its write for as long as the test needs.
class HoldingRelay {
 public:
  HoldingRelay(int target, const std::string& journal) {
    front_ = socket(AF_INET, SOCK_DGRAM, 0);
    back_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(front_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    getsockname(front_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    address.sin_port = htons(static_cast<uint16_t>(target));
    connect(back_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    entry_ = journal + "/lan%3A127.0.0.1%3A" + std::to_string(port_) + "%23fru0.entry";
    thread_ = std::thread([this] { Run(); });
  }
  ~HoldingRelay() {
    done_ = true;
    thread_.join();
    close(front_);
    close(back_);
  }
  int Port() const { return port_; }
  bool Holding() const { return holding_; }
  void Release() { released_ = true; }

 private:
  void Run() {
    std::vector<std::string> held;
    char packet[2048];
    for (int ticks = 0; !done_ && ticks < 6000; ++ticks) {  // at most about 2 min
      pollfd fds[2] = {{front_, POLLIN, 0}, {back_, POLLIN, 0}};
      poll(fds, 2, 20);
      if (fds[0].revents & POLLIN) {
        socklen_t length = sizeof(client_);
        const ssize_t n = recvfrom(front_, packet, sizeof(packet), 0, reinterpret_cast<sockaddr*>(&client_), &length);
        if (n > 0) held.emplace_back(packet, static_cast<size_t>(n));
      }
      if (fds[1].revents & POLLIN) {
        const ssize_t n = recv(back_, packet, sizeof(packet), 0);
        if (n > 0) sendto(front_, packet, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&client_), sizeof(client_));
      }
      holding_ = !held.empty() && !released_ && fs::exists(entry_);
      if (holding_) continue;
      for (const std::string& p : held) send(back_, p.data(), p.size(), 0);
      held.clear();
    }
  }

  int front_ = -1, back_ = -1, port_ = 0;
  std::string entry_;
  sockaddr_in client_{};
  std::atomic<bool> done_{false}, released_{false}, holding_{false};
  std::thread thread_;
};

// Ctrl-C while every board is in the middle of its write: each one stops,
// puts its FRU back (or, if it got past its last chunk first, ends written),
// and the station still writes its summary and failed manifest.
TEST(StationInterrupted, EveryBoardEndsRestoredOrWrittenAndTheSummaryIsThere) {
  constexpr int kRack = 6;
  TempDir root;
  fs::create_directories(root.File("journal"));
  std::vector<std::unique_ptr<IpmiSim>> sims;
  std::vector<std::unique_ptr<HoldingRelay>> relays;
  std::ofstream manifest(root.File("rack.csv"));
  for (int b = 1; b <= kRack; ++b) {
    const fs::path dir = fs::path(root.path()) / ("board" + std::to_string(b));
    fs::create_directories(dir);
    WriteFileBytes((dir / "fru.bin").string(), Template());
    sims.push_back(std::make_unique<IpmiSim>(dir, 512, 120));
    relays.push_back(std::make_unique<HoldingRelay>(sims.back()->LanPort(), root.File("journal")));
    // A longer manufacturer moves the product area: several chunks change.
    manifest << "lan:127.0.0.1:" << relays.back()->Port() << ",ID=0,BSN=" << Serial("SN", b)
             << ",BMF=Acme Industrial Manufacturing Works\n";
  }
  manifest.close();
  // A command put in the background by a script starts with SIGINT ignored; a terminal's does not.
  const std::string command = "cd " + root.path() + " && (env -u STATION_HOSTS STATION_OUT=out TAGFORGE=" + TAGFORGE_BINARY +
                              " STATION_TOOL=" + STATION_TOOL + " TAGFORGE_JOURNAL=" + root.File("journal") + " " +
                              kLanSettings +
                              // exec keeps the PID: the script's own, not the first on the machine that
                              // matches its name (another station test may run beside this one).
                              "TAGFORGE_LAN_PASSWORD=secret perl -e '$SIG{INT} = \"DEFAULT\"; open(my $f, \">script.pid\") or die; "
                              "print $f $$; close($f); exec @ARGV' " +
                              TAGFORGE_SOURCE_DIR + "/scripts/station.sh rack.csv 8 > station.out 2> station.err; echo $? > station.status) &";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const auto allHeld = [&relays] {
    return std::all_of(relays.begin(), relays.end(), [](const auto& r) { return r->Holding(); });
  };
  for (int tries = 0; tries < 1500 && !allHeld(); ++tries) usleep(20000);  // at most 30 s
  ASSERT_TRUE(allHeld());
  const pid_t script = std::stoi(ReadText(root.File("script.pid")));
  kill(script, SIGINT);
  usleep(300000);
  for (const auto& relay : relays) relay->Release();
  for (int tries = 0; tries < 600 && !fs::exists(root.File("station.status")); ++tries) usleep(100000);
  ASSERT_TRUE(fs::exists(root.File("station.status")));
  const std::string output = ReadText(root.File("station.out"));
  EXPECT_EQ(ReadText(root.File("station.status")), "1\n") << output;
  EXPECT_NE(output.find("Interrupted: "), std::string::npos) << output;
  int written = 0;
  for (int b = 1; b <= kRack; ++b) {
    const Bytes fru = ReadFileBytes(root.File("board" + std::to_string(b) + "/fru.bin"));
    const std::string text(fru.begin(), fru.end());
    const bool programmed = text.find(Serial("SN", b)) != std::string::npos;
    written += programmed ? 1 : 0;
    if (!programmed) {
      EXPECT_EQ(fru, Template()) << b;
      EXPECT_NE(RowOf(output, b).find(" FAILED     [ERROR] Interrupted by SIGINT"), std::string::npos) << output;
    }
  }
  EXPECT_NE(output.find(std::to_string(kRack) + " boards: " + std::to_string(written) + " programmed, 0 listed, " +
                        std::to_string(kRack - written) + " failed\n"),
            std::string::npos)
      << output;
  const std::string failed = ReadText(root.File("out/failed.csv"));
  EXPECT_EQ(std::count(failed.begin(), failed.end(), '\n'), 2 * (kRack - written)) << failed;  // each after its number
  EXPECT_NE(ReadText(root.File("out/logs/line-1.txt")).find("[ERROR] Interrupted by SIGINT"), std::string::npos);
}

}  // namespace
