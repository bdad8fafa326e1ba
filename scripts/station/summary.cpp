#include "summary.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>

#include <nlohmann/json.hpp>

#include "manifest.h"

namespace {

using Json = nlohmann::json;

struct CauseRank {
  const char* text;
  int rank;  // lower tells more
};

// What the FRU holds now tells most; then why the run stopped; a standard
// error line (a refused password, no answer) says why the BMC was not
// accessible; the chunk lines only say where.
constexpr CauseRank CAUSE_RANKS[] = {
    {"could not be restored", 0},
    {"may hold part of the new data", 0},
    {"mix of old and new data", 0},
    {"Interrupted by", 1},
    {"[ERROR] BMC is not accessible.", 4},
    {"startOffset=", 5},
};
constexpr int RANK_STANDARD_ERROR = 2;
constexpr int RANK_OTHER_ERROR = 3;
constexpr const char* ERROR_PREFIX = "[ERROR] ";

struct Outcome {
  std::string result;  // programmed, listed, verified, MISMATCH, shown, FAILED, NO RECORD
  std::string cause;
  bool warned = false;  // the FRU it left has lint warnings
};

bool Succeeded(const std::string& result) {
  return result == "programmed" || result == "listed" || result == "verified" || result == "shown";
}

int Rank(const std::string& line) {
  for (const CauseRank& rank : CAUSE_RANKS) {
    if (line.find(rank.text) != std::string::npos) return rank.rank;
  }
  return line.rfind(ERROR_PREFIX, 0) == 0 ? RANK_OTHER_ERROR : RANK_STANDARD_ERROR;
}

// Why a record joined to a line cannot be read; "" when it can.
std::string RecordProblem(const Json& record) {
  if (!record.contains("status") || !record["status"].is_number_integer()) return "status is not a whole number";
  if (!record.contains("mode") || !record["mode"].is_string()) return "mode is not text";
  // null: the run could not vouch for any image of the FRU (fields_from "unknown").
  if (!record.contains("fields") || !(record["fields"].is_array() || record["fields"].is_null())) {
    return "fields is neither a list nor null";
  }
  if (!record.contains("errors") || !record["errors"].is_array()) return "errors is not a list";
  for (const Json& line : record["errors"]) {
    if (!line.is_string()) return "errors holds a value that is not text";
  }
  return "";
}

// The records by tag (the last one of a tag counts); lines that are not records are named on standard error.
std::map<std::string, Json> ReadRecords(const std::string& results) {
  std::map<std::string, Json> records;
  std::ifstream in(results, std::ios::binary);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const Json record = Json::parse(line, nullptr, false);
    std::string problem;
    if (record.is_discarded()) problem = "not JSON";
    else if (!record.is_object()) problem = "not a JSON object";
    else if (!record.contains("tag") || !record["tag"].is_string()) problem = "its tag is not text";
    if (problem.empty()) {
      records[record["tag"].get<std::string>()] = record;
    } else {
      std::cerr << "station: " << results << " line " << number << " is not a run record: " << problem << "\n";
    }
  }
  return records;
}

const char* ExpectedMode(BoardKind kind, StationMode mode) {
  if (mode == StationMode::Verify) return "verify";
  if (mode == StationMode::DryRun) return kind == BoardKind::Listing ? "listing" : "dry-run";
  if (kind == BoardKind::Edit) return "edit";
  if (kind == BoardKind::Clear) return "clear";
  return "listing";
}

std::string Joined(const std::vector<std::string>& parts, const char* between) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : between) + part;
  return text;
}

// The lint's warnings about the FRU the run left, as the tool prints them ("[WARN] AREA: TEXT").
std::vector<std::string> Warnings(const Json& record) {
  std::vector<std::string> warnings;
  if (!record.contains("lint") || !record["lint"].is_array()) return warnings;
  for (const Json& finding : record["lint"]) {
    if (finding.is_object() && finding.value("level", "") == "warning" && finding.contains("text") &&
        finding["text"].is_string()) {
      const std::string area = finding.contains("area") && finding["area"].is_string() ? finding["area"].get<std::string>() + ": " : "";
      warnings.push_back("[WARN] " + area + finding["text"].get<std::string>());
    }
  }
  return warnings;
}

// The fields a verify found otherwise than its line says, by name.
std::vector<std::string> Mismatches(const Json& record) {
  std::vector<std::string> names;
  if (!record.contains("verify") || !record["verify"].is_array()) return names;
  for (const Json& field : record["verify"]) {
    if (field.is_object() && field.value("result", "") == "mismatch") {
      names.push_back(field.contains("name") && field["name"].is_string() ? field["name"].get<std::string>()
                                                                          : field.value("keyword", "?"));
    }
  }
  return names;
}

// Without a record, the board's log may say why (a job that could not start it).
std::string NoRecordCause(const Board& board, const std::string& logDir) {
  std::ifstream log(logDir + "/line-" + std::to_string(board.number) + ".txt");
  if (!log) return "no record and no log: the board did not run";
  for (std::string line; std::getline(log, line);) {
    if (line.rfind("station: ", 0) == 0) return line;
  }
  return "no record: the run did not report (see its log)";
}

Outcome Judge(const Board& board, const Json& record, StationMode stationMode) {
  const std::string problem = RecordProblem(record);
  if (!problem.empty()) return {"NO RECORD", "its record cannot be read: " + problem};
  // A record is this line's only when it names the line's device: a record left
  // by another manifest's line of the same number says nothing of this board.
  if (record.contains("bmc") && record["bmc"].is_string() && record["bmc"].get<std::string>() != board.bmc) {
    return {"NO RECORD", "its record names another device (" + record["bmc"].get<std::string>() + ")"};
  }
  const int status = record["status"].get<int>();
  std::vector<std::string> errors;
  for (const Json& line : record["errors"]) errors.push_back(line.get<std::string>());
  const std::string mode = record["mode"].get<std::string>();
  const std::string expected = ExpectedMode(board.kind, stationMode);
  if (mode != expected) return {"FAILED", "the run ended as " + mode + ", not as " + expected};
  if (status != 0) {
    const std::vector<std::string> mismatched = Mismatches(record);
    if (stationMode == StationMode::Verify && !mismatched.empty()) {
      return {"MISMATCH", "the FRU differs in " + Joined(mismatched, ", ")};
    }
    const std::string cause = MostTellingError(errors);
    return {"FAILED", cause.empty() ? "status " + std::to_string(status) + " without an error line" : cause};
  }
  std::vector<std::string> notes;
  if (stationMode == StationMode::Program && !board.erased.empty()) notes.push_back("erased " + Joined(board.erased, ", "));
  const std::vector<std::string> warnings = Warnings(record);
  notes.insert(notes.end(), warnings.begin(), warnings.end());
  std::string result = board.kind == BoardKind::Listing ? "listed" : "programmed";
  if (stationMode == StationMode::Verify) result = "verified";
  if (stationMode == StationMode::DryRun) result = "shown";
  return {result, Joined(notes, "; "), !warnings.empty()};
}

void PrintRow(const std::string& line, const std::string& bmc, const std::string& fruId, const std::string& result,
              const std::string& cause) {
  char row[256];
  snprintf(row, sizeof(row), "%-5s %-32s %-6s %-10s ", line.c_str(), bmc.c_str(), fruId.c_str(), result.c_str());
  std::string text = row + cause;
  text.erase(text.find_last_not_of(' ') + 1);
  printf("%s\n", text.c_str());
}

}  // namespace

std::string MostTellingError(const std::vector<std::string>& errors) {
  const std::string* best = nullptr;
  for (const std::string& line : errors) {
    if (best == nullptr || Rank(line) < Rank(*best)) best = &line;
  }
  return best == nullptr ? "" : *best;
}

namespace {

// What a dry run would change on the board, from its log: the lines "NAME: OLD -> NEW" and "Would write ...".
void PrintChanges(const Board& board, const std::string& logDir) {
  std::ifstream log(logDir + "/line-" + std::to_string(board.number) + ".txt");
  bool header = false;
  for (std::string line; std::getline(log, line);) {
    if (line.find(" -> ") == std::string::npos && line.rfind("Would write ", 0) != 0) continue;
    if (!header) printf("line %d (%s):\n", board.number, board.bmc.c_str());
    header = true;
    printf("  %s\n", line.c_str());
  }
}

void PrintTotals(size_t boards, std::map<std::string, int>& counts, StationMode mode) {
  const int failures = counts["FAILED"] + counts["NO RECORD"];
  if (mode == StationMode::Verify) {
    printf("%zu boards: %d verified, %d mismatched, %d failed\n", boards, counts["verified"], counts["MISMATCH"], failures);
  } else if (mode == StationMode::DryRun) {
    printf("%zu boards: %d shown, %d failed\n", boards, counts["shown"], failures);
  } else {
    printf("%zu boards: %d programmed, %d listed, %d failed\n", boards, counts["programmed"], counts["listed"], failures);
  }
}

}  // namespace

int Summary(const std::string& results, const std::string& manifest, const std::string& failedPath,
            const std::string& logDir, StationMode mode) {
  std::vector<Board> boards;
  std::vector<std::string> problems;
  if (!ReadManifest(manifest, &boards, &problems)) {
    for (const std::string& problem : problems) std::cerr << problem << "\n";
    return 2;
  }
  const std::map<std::string, Json> records = ReadRecords(results);
  std::ofstream failed(failedPath, std::ios::binary);
  std::map<std::string, int> counts;
  int warned = 0;
  PrintRow("line", "BMC", "FRU ID", "result", "cause");
  for (const Board& board : boards) {
    const auto found = records.find(std::to_string(board.number));
    const Outcome outcome = found == records.end() ? Outcome{"NO RECORD", NoRecordCause(board, logDir)}
                                                   : Judge(board, found->second, mode);
    ++counts[outcome.result];
    warned += outcome.warned ? 1 : 0;
    if (!Succeeded(outcome.result)) failed << OriginComment(board) << "\n" << board.text << "\n";
    PrintRow(std::to_string(board.number), board.bmc, std::to_string(board.fruId), outcome.result, outcome.cause);
  }
  PrintTotals(boards.size(), counts, mode);
  if (warned > 0) printf("%d boards have lint warnings\n", warned);
  if (mode == StationMode::DryRun) {
    for (const Board& board : boards) PrintChanges(board, logDir);
  }
  return counts["FAILED"] + counts["NO RECORD"] + counts["MISMATCH"] == 0 ? 0 : 1;
}
