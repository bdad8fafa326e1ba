// The station's helper: turns a manifest of boards into one tagforge command
// per board for GNU parallel, and the run reports into a summary.
//
//   station_tool jobs MANIFEST TAGFORGE LOGDIR   one shell command per board
//   station_tool summary RESULTS MANIFEST FAILED  the table; FAILED gets the failed lines
//
// A manifest line: the BMC as TAGFORGE_BMC takes it, then the tool's tokens,
// comma-separated, RFC 4180 quoting for a token holding a comma or a quote;
// lines starting with "#" and empty lines are skipped.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

struct Board {
  std::string line;
  std::vector<std::string> fields;  // the BMC, then the tokens
};

// One line's fields; false when a quoted field is not closed.
bool SplitCsv(const std::string& line, std::vector<std::string>* fields) {
  fields->clear();
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields->push_back(field);
      field.clear();
    } else {
      field += c;
    }
  }
  fields->push_back(field);
  return !quoted;
}

bool ReadManifest(const std::string& path, std::vector<Board>* boards) {
  std::ifstream in(path);
  if (!in) {
    std::cerr << "station: cannot read the manifest " << path << "\n";
    return false;
  }
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    Board board{line, {}};
    if (!SplitCsv(line, &board.fields) || board.fields[0].empty()) {
      std::cerr << "station: manifest line " << number << " is not a BMC and tokens: " << line << "\n";
      return false;
    }
    boards->push_back(board);
  }
  return true;
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

int Jobs(const std::string& manifest, const std::string& tagforge, const std::string& logDir) {
  std::vector<Board> boards;
  if (!ReadManifest(manifest, &boards)) return 2;
  for (size_t i = 0; i < boards.size(); ++i) {
    std::string command = "TAGFORGE_BMC=" + ShellQuoted(boards[i].fields[0]) + " " + ShellQuoted(tagforge);
    for (size_t t = 1; t < boards[i].fields.size(); ++t) command += " " + ShellQuoted(boards[i].fields[t]);
    command += " > " + ShellQuoted(logDir + "/board-" + std::to_string(i + 1) + ".txt") + " 2>&1";
    std::cout << command << "\n";
  }
  return 0;
}

int Summary(const std::string& results, const std::string& manifest, const std::string& failedPath) {
  std::vector<Board> boards;
  if (!ReadManifest(manifest, &boards)) return 2;
  std::map<std::string, nlohmann::json> records;  // the last record of each BMC
  std::ifstream in(results);
  for (std::string line; std::getline(in, line);) {
    nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_discarded() || !record.contains("bmc") || !record["bmc"].is_string()) continue;
    records[record["bmc"].get<std::string>()] = record;
  }
  std::ofstream failed(failedPath);
  int failures = 0;
  printf("%-32s %-7s %s\n", "board", "status", "first error");
  for (const Board& board : boards) {
    const auto found = records.find(board.fields[0]);
    std::string status = "none";
    std::string error = "no record: the run did not report";
    if (found != records.end()) {
      status = std::to_string(found->second.value("status", -1));
      const nlohmann::json& errors = found->second["errors"];
      error = errors.is_array() && !errors.empty() ? errors[0].get<std::string>() : "";
    }
    if (status != "0") {
      ++failures;
      failed << board.line << "\n";
    }
    printf("%-32s %-7s %s\n", board.fields[0].c_str(), status.c_str(), status == "0" ? "" : error.c_str());
  }
  printf("%zu boards, %zu programmed, %d failed\n", boards.size(), boards.size() - static_cast<size_t>(failures),
         failures);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "jobs") return Jobs(args[1], args[2], args[3]);
  if (args.size() == 4 && args[0] == "summary") return Summary(args[1], args[2], args[3]);
  std::cerr << "usage: station_tool jobs MANIFEST TAGFORGE LOGDIR | summary RESULTS MANIFEST FAILED\n";
  return 2;
}
