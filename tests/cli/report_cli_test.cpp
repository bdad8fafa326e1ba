// The run report: one parseable line per run whatever the outcome, with the
// documented keys; runs that share the file never interleave their lines.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli_harness.h"
#include "fru_bytes.h"

namespace {

const std::set<std::string> kKeys = {"time",           "version",       "bmc",    "tag",    "fru_id", "mode",
                                     "keywords",       "requested",     "fields_from", "fields",
                                     "inventory_size", "bytes_written", "journal", "status", "errors", "lint",
                                     "duration_s"};

class Report : public ::testing::Test {
 protected:
  static Bytes Fru(const std::string& serial) {
    return Image(128, {0, 0, 1, 0, 0},
                 {{1, InfoArea({{0, 0, 0, 0}, Text("Acme"), Text(""), Text(serial), Text(""), {0x00}})}});
  }
  void SetUp() override { WriteFileBytes(dir_.File("fru.bin"), Fru("SN-1")); }
  CliResult Run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    env.emplace("TAGFORGE_BMC", "sim:" + dir_.File("fru.bin"));
    env.emplace("TAGFORGE_REPORT", dir_.File("report.jsonl"));
    return RunTagforge(CliRun{std::move(args), env, "", dir_.path()});
  }
  std::vector<nlohmann::json> Records() {
    std::vector<nlohmann::json> records;
    std::ifstream in(dir_.File("report.jsonl"));
    for (std::string line; std::getline(in, line);) {
      records.push_back(nlohmann::json::parse(line, nullptr, false));
      EXPECT_FALSE(records.back().is_discarded()) << line;
    }
    return records;
  }
  TempDir dir_;
};

TEST_F(Report, EveryModeAndOutcomeIsOneLineWithTheDocumentedKeys) {
  struct Case {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    const char* mode;
    int status;
    const char* firstError;  // "" for none
  };
  const Case cases[] = {
      {{}, {}, "usage", 1, ""},
      {{"ID=0"}, {}, "listing", 0, ""},
      {{"ID=0", "BSN=SN-2"}, {}, "edit", 0, ""},
      {{"ID=0", "BSN=SN-3"}, {{"TAGFORGE_SIM_FAULTS", "cc=0xD5@write"}}, "edit", 1,
       "[ERROR] Write Fru 0 startOffset=0x0, length=32"},
      {{"ID=0", "BSN"}, {}, "edit", 1, "[ERROR] Input data are not matched"},
      {{"ID=0", "ClearFru=1"}, {}, "clear", 0, ""},
      {{"ID=0"}, {{"TAGFORGE_BMC", "bogus"}}, "refused", 1, "[ERROR] TAGFORGE_BMC must be"},
      {{"ID=0"}, {{"TAGFORGE_MANUFACTURER_ID", "abc"}}, "refused", 1, "tagforge: TAGFORGE_MANUFACTURER_ID must be"},
  };
  for (const Case& c : cases) {
    const size_t before = Records().size();
    CliResult r = Run(c.args, c.env);
    EXPECT_EQ(r.status, c.status) << c.mode << r.output;
    const std::vector<nlohmann::json> records = Records();
    ASSERT_EQ(records.size(), before + 1) << c.mode;
    const nlohmann::json& record = records.back();
    std::set<std::string> keys;
    for (const auto& item : record.items()) keys.insert(item.key());
    EXPECT_EQ(keys, kKeys) << record.dump();
    EXPECT_EQ(record["mode"], c.mode) << record.dump();
    EXPECT_EQ(record["status"], c.status) << record.dump();
    const std::string first = record["errors"].empty() ? "" : record["errors"][0].get<std::string>();
    EXPECT_EQ(first.substr(0, std::string(c.firstError).size()), c.firstError) << record.dump();
  }
  const std::vector<nlohmann::json> records = Records();
  // The edit's record shows the FRU as it now is, and what was asked for.
  EXPECT_EQ(records[2]["keywords"], nlohmann::json::array({"BSN"}));
  bool serial = false;
  for (const auto& f : records[2]["fields"]) serial = serial || (f["name"] == "Board Serial Number" && f["text"] == "SN-2");
  EXPECT_TRUE(serial) << records[2].dump();
  EXPECT_EQ(records[4]["keywords"], nlohmann::json::array({"BSN"}));  // the scan that did not match was asked for
  // Only the chunks that changed were sent, and the BMC took each whole.
  const Bytes before = Fru("SN-1");
  const Bytes after = Fru("SN-2");
  int changed = 0;
  for (size_t at = 0; at < 128; at += 32) changed += std::equal(&before[at], &before[at] + 32, &after[at]) ? 0 : 32;
  EXPECT_EQ(records[2]["bytes_written"], changed);
  // A value that is not UTF-8 is kept as it was written, shown with U+FFFD, in a record that parses.
  CliResult latin = Run({"ID=0", "BSN=M\xFCller"});
  EXPECT_EQ(latin.status, 0) << latin.output;
  const nlohmann::json last = Records().back();
  EXPECT_EQ(last["status"], 0);
  EXPECT_EQ(last["requested"][0]["hex"], "4d fc 6c 6c 65 72");
  bool kept = false;
  for (const auto& f : last["fields"]) kept = kept || (f["keyword"] == "BSN" && f["hex"] == "4d fc 6c 6c 65 72");
  EXPECT_TRUE(kept) << last.dump();
  EXPECT_EQ(records[5]["fields"].size(), 0u);  // cleared
}

TEST_F(Report, RunsSharingTheFileNeverInterleaveAndAnUnwritableReportDoesNotFailTheRun) {
  std::vector<std::thread> runs;
  for (int i = 0; i < 12; ++i) runs.emplace_back([this] { Run({"ID=0"}); });
  for (std::thread& t : runs) t.join();
  EXPECT_EQ(Records().size(), 12u);  // each line parsed whole

  CliResult r = Run({"ID=0"}, {{"TAGFORGE_REPORT", dir_.File("missing/report.jsonl")}});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.errors.find("tagforge: the run report could not be written to"), std::string::npos) << r.errors;
}

}  // namespace

// After a write that did not end verified, the record shows the FRU as read
// back at the end (the same fields a listing shows next), or says it does not
// know; never the image read at the start. bytes_written counts only what the
// BMC took.
TEST_F(Report, AWriteThatDidNotEndVerifiedIsRecordedAsTheFruNowIs) {
  const std::vector<std::string> edit = {"ID=0", "BMF=Acme Industrial", "BSN=SN-9"};  // moves the board area
  struct Case {
    const char* name;
    std::string faults;
    const char* ending;  // the line before "error."
    const char* fieldsFrom;
    bool nothingTaken;
  };
  // 128 bytes: identity, size, 4 reads, the GUID; then the writes, two chunks a pass.
  const Case cases[] = {
      {"the read-back fails, and every read after it", "cc=0xC0@read#5+",
       "[ERROR] Verify FRU data: the written data could not be read back", "unknown", false},
      {"the restore fails", "cc=0xD5@write#2+",
       "[ERROR] The write failed and the FRU could not be restored: it may hold part of the new data", "read back",
       false},
      {"a chunk acknowledged but never stored, twice", "cc=0@write#1,cc=0@write#3",
       "[ERROR] The FRU may now hold a mix of old and new data", "read back", false},
      {"every write refused", "cc=0xD5@write", "[ERROR] The write failed; the FRU holds its original data again",
       "restored", true},
  };
  for (const Case& c : cases) {
    SetUp();
    std::filesystem::remove(dir_.File("report.jsonl"));
    CliResult r = Run(edit, {{"TAGFORGE_SIM_FAULTS", c.faults}});
    SCOPED_TRACE(std::string(c.name) + "\n" + r.output);
    EXPECT_TRUE(EndsWith(r.output, std::string(c.ending) + "\nerror.\n"));
    // The FRU as the run left it: without the journal, which would undo a torn write first.
    CliResult listing = Run({"ID=0"}, {{"TAGFORGE_JOURNAL", "off"}});
    const std::vector<nlohmann::json> records = Records();
    ASSERT_EQ(records.size(), 2u);
    const nlohmann::json& written = records[0];
    EXPECT_EQ(written["fields_from"], c.fieldsFrom);
    if (std::string(c.fieldsFrom) == "unknown") {
      EXPECT_TRUE(written["fields"].is_null());
    } else {
      EXPECT_EQ(written["fields"], records[1]["fields"]);  // what the FRU holds, as the next listing reads it
    }
    EXPECT_EQ(written["bytes_written"].get<int>() == 0, c.nothingTaken) << written.dump();
    EXPECT_EQ(written["requested"][0]["keyword"], "BMF");
    EXPECT_EQ(written["requested"][0]["text"], "Acme Industrial");
  }
}

// The three runs that never write say so in their mode; a verify lists each
// field it compared, a mismatch as such, and only a verify has the key.
TEST_F(Report, CheckVerifyAndDryRunRecordTheirModeAndAVerifyItsFields) {
  struct Case {
    std::vector<std::string> args;
    const char* mode;
    int status;
    nlohmann::json verify;  // null: no "verify" key
  };
  const Case cases[] = {
      {{"--check", "ID=0", "BSN=SN-2"}, "check", 0, nullptr},
      {{"--dry-run", "ID=0", "BSN=SN-2"}, "dry-run", 0, nullptr},
      {{"--verify", "ID=0", "BSN=SN-1", "BMF=Acne", "BDT"},
       "verify",
       1,
       nlohmann::json::array({
           {{"keyword", "BDT"}, {"name", "Mfg. Date/Time"}, {"result", "mismatch"},
            {"found", "1996/1/1 (0x00 0x00 0x00)"}, {"expected", "a set date"}},
           {{"keyword", "BMF"}, {"name", "Board Manufacturer"}, {"result", "mismatch"},
            {"found", "\"Acme\" (4 bytes)"}, {"expected", "\"Acne\" (4 bytes)"}},
           {{"keyword", "BSN"}, {"name", "Board Serial Number"}, {"result", "ok"},
            {"found", "\"SN-1\" (4 bytes)"}, {"expected", "\"SN-1\" (4 bytes)"}},
       })},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir_.File("report.jsonl"));
    CliResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.output;
    const std::vector<nlohmann::json> records = Records();
    ASSERT_EQ(records.size(), 1u);
    const nlohmann::json& record = records[0];
    EXPECT_EQ(record["mode"], c.mode);
    EXPECT_EQ(record["bytes_written"], 0);
    EXPECT_EQ(record.contains("verify") ? record["verify"] : nlohmann::json(), c.verify) << record.dump();
  }
  EXPECT_EQ(ReadFileBytes(dir_.File("fru.bin")), Fru("SN-1"));
}

// The text without the lines that are in others.
static std::string WithoutLinesOf(const std::string& text, const std::string& others) {
  std::set<std::string> drop;
  std::istringstream in(others);
  for (std::string line; std::getline(in, line);) drop.insert(line);
  std::istringstream lines(text);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (drop.count(line) == 0) kept += line + "\n";
  }
  return kept;
}

// --json: the record TAGFORGE_REPORT appends is the only standard output, the
// console text goes to standard error as it is, and the status does not
// change. Every run that ends prints one, whatever ends it.
TEST_F(Report, JsonPrintsTheRunsRecordAsTheOnlyOutput) {
  struct Case {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    const char* mode;
    int status;
    const char* lastError;  // "" for none
  };
  const Case cases[] = {
      {{}, {}, "usage", 1, ""},
      {{"HELLO"}, {}, "listing", 1, "[ERROR] Unsupported parameter: HELLO"},
      {{"ID=0"}, {}, "listing", 0, ""},
      {{"ID=0", "BSN=SN-2"}, {}, "edit", 0, ""},
      {{"ID=0", "BSN=SN-3"}, {{"TAGFORGE_SIM_FAULTS", "cc=0xC0@read"}}, "edit", 1, "[ERROR] Read FRU error"},
      {{"--check", "ID=0", "BSN=SN-4"}, {}, "check", 0, ""},
      {{"--dry-run", "ID=0", "BSN=SN-4"}, {}, "dry-run", 0, ""},
      {{"ID=0", "BSN=SN-5"}, {{"TAGFORGE_BMC", "bogus"}}, "refused", 1, "[ERROR] TAGFORGE_BMC must be"},
      // A signal while the write is under way: the FRU is put back and the run ends as usual.
      {{"ID=0", "BSN=SN-6"}, {{"TAGFORGE_SIM_FAULTS", "signal=INT@1"}}, "edit", 1,
       "[ERROR] The write failed; the FRU holds its original data again"},
  };
  for (const Case& c : cases) {
    SetUp();
    std::vector<std::string> json = c.args;
    json.insert(json.begin(), "--json");
    const CliResult plain = Run(c.args, c.env);
    const size_t before = Records().size();
    SetUp();
    const CliResult r = Run(json, c.env);
    SCOPED_TRACE(std::string(c.mode) + ": " + r.output);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(plain.status, c.status);
    ASSERT_TRUE(EndsWith(r.output, "\n"));
    EXPECT_EQ(r.output.find('\n'), r.output.size() - 1);  // one line
    const nlohmann::json record = nlohmann::json::parse(r.output, nullptr, false);
    ASSERT_FALSE(record.is_discarded());
    // The very line the report file got.
    const std::vector<nlohmann::json> records = Records();
    ASSERT_EQ(records.size(), before + 1);
    EXPECT_EQ(record, records.back());
    EXPECT_EQ(record["mode"], c.mode);
    EXPECT_EQ(record["status"], c.status);
    EXPECT_EQ(record["version"], TAGFORGE_TEST_VERSION);
    const std::string last = record["errors"].empty() ? "" : record["errors"].back().get<std::string>();
    EXPECT_EQ(last.substr(0, std::string(c.lastError).size()), c.lastError);
    // The console text, where a run without --json prints it, among the lines that always go there.
    EXPECT_EQ(WithoutLinesOf(r.errors, plain.errors), plain.output);
  }
}

// A signal before the first write ends the run at once, as without --json
// (same status, nothing written), and its record is still printed: what the
// run had taken so far and the signal that ended it.
TEST_F(Report, JsonPrintsARecordForARunASignalEndsBeforeItsFirstWrite) {
  for (const char* signal : {"INT", "TERM", "HUP"}) {
    const int number = std::string(signal) == "INT" ? SIGINT : std::string(signal) == "TERM" ? SIGTERM : SIGHUP;
    const std::map<std::string, std::string> env{{"TAGFORGE_SIM_FAULTS", std::string("signal=") + signal + "@read2"}};
    SetUp();
    const CliResult plain = Run({"ID=0", "BSN=SN-7"}, env);
    const CliResult r = Run({"--JSON", "ID=0", "BSN=SN-7"}, env);
    SCOPED_TRACE(std::string(signal) + ": " + r.output + r.errors);
    EXPECT_EQ(plain.status, 128 + number);
    EXPECT_EQ(r.status, 128 + number);
    EXPECT_EQ(ReadFileBytes(dir_.File("fru.bin")), Fru("SN-1"));
    EXPECT_EQ(r.output.find('\n'), r.output.size() - 1);
    const nlohmann::json record = nlohmann::json::parse(r.output, nullptr, false);
    ASSERT_FALSE(record.is_discarded());
    std::set<std::string> keys;
    for (const auto& item : record.items()) keys.insert(item.key());
    EXPECT_EQ(keys, kKeys);
    EXPECT_EQ(record["mode"], "edit");
    EXPECT_EQ(record["fru_id"], 0);
    EXPECT_EQ(record["keywords"], nlohmann::json::array({"BSN"}));
    EXPECT_EQ(record["status"], 128 + number);
    EXPECT_EQ(record["bytes_written"], 0);
    const std::string line = std::string("tagforge: stopped by SIG") + signal + " before anything was written";
    EXPECT_EQ(record["errors"], nlohmann::json::array({line}));
    // The console text up to the signal, then the line (a run killed outright keeps its buffered output).
    EXPECT_EQ(r.errors.rfind(kBanner + "       Board Serial Number: \"SN-7\" (4 bytes)\nBMC Revision = ", 0), 0u);
    EXPECT_TRUE(EndsWith(r.errors, "\n" + line + "\n"));
  }
}

// What a script does with it: a listing, an edit and a failed run each give one JSON document.
TEST_F(Report, JsonGoesThroughPythonsJsonTool) {
  const std::string setting = "cd " + dir_.path() + " && TAGFORGE_BMC=sim:" + dir_.File("fru.bin") +
                              " TAGFORGE_JOURNAL=" + dir_.File("journal") + " ";
  const std::pair<std::string, std::string> runs[] = {
      {"ID=0", ""}, {"ID=0 BSN=SN-8", ""}, {"ID=0 BSN=SN-9", "TAGFORGE_SIM_FAULTS=cc=0xCB@size "}};
  for (const auto& [args, faults] : runs) {
    const std::string command =
        setting + faults + TAGFORGE_BINARY + " --json " + args + " 2>/dev/null | python3 -m json.tool >/dev/null";
    EXPECT_EQ(std::system(("bash -c '" + command + "'").c_str()), 0) << command;
  }
}
