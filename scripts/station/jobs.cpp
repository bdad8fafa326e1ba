#include "jobs.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <vector>

#include "manifest.h"

namespace {

// A job's own output lines, "LINE status S", "LINE log BASE64", "LINE record BASE64":
// a log or a record sent back from another host comes as one line of text.
constexpr const char* WORD_STATUS = "status";
constexpr const char* WORD_LOG = "log";
constexpr const char* WORD_RECORD = "record";

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string TagforgeCommand(const Board& board, const std::string& tagforge, StationMode mode) {
  const std::string line = std::to_string(board.number);
  std::string command = "TAGFORGE_BMC=" + ShellQuoted(board.bmc) + " TAGFORGE_REPORT_TAG=" + line +
                        " TAGFORGE_REPORT=\"$r/line-" + line + ".jsonl\" " + ShellQuoted(tagforge);
  if (mode != StationMode::Program) command += std::string(" ") + ModeOption(mode);
  for (const std::string& token : board.tokens) command += " " + ShellQuoted(token);
  return command;
}

// A run killed before it printed anything (its banner comes first, a line at
// a time) sent nothing; one killed later may have been writing, and its
// journal entry is what puts the FRU back.
std::string WhyNoRecord(const std::string& line) {
  const std::string log = "\"$l/line-" + line + ".txt\"";
  return "[ \"$s\" -lt 128 ] || [ -f \"$r/line-" + line + ".jsonl\" ] || { if [ -s " + log +
         " ]; then echo \"station: the run was stopped by signal $((s - 128)) and wrote no record: if it was writing, the "
         "FRU may be torn until the next run on it puts it back from the journal (run its line again)\"; else echo "
         "\"station: the board was stopped by signal $((s - 128)) before its first request: nothing was sent to it\"; "
         "fi >> " + log + "; }; ";
}

// parallel's progress bar shows the start of a job's text: let it name the boards.
std::string JobTitle(const std::vector<Board>& group) {
  std::string lines;
  for (const Board& board : group) lines += (lines.empty() ? "" : ",") + std::to_string(board.number);
  return ": " + ShellQuoted((group.size() > 1 ? "lines " : "line ") + lines + " " + group.front().bmc) + "; ";
}

// On another host, a board runs only where the station's marker shows that
// TAGFORGE_JOURNAL is the folder the station shares (its lock and its entries).
std::string MarkedCommand(const Board& board, const std::string& tagforge, const std::string& marker, StationMode mode) {
  const std::string path = "\"${TAGFORGE_JOURNAL:-/nonexistent}\"/" + ShellQuoted(marker);
  // Owned by this host's user too: tagforge here trusts only entries its own user wrote.
  return "if [ -f " + path + " ] && [ -O " + path + " ]; then " + TagforgeCommand(board, tagforge, mode) + "; else echo " +
         ShellQuoted("station: this host does not see the station's marker in TAGFORGE_JOURNAL as its own user's, so "
                     "the journal folder is not shared or not this user's: nothing was sent to the BMC") +
         "; false; fi";
}

std::string SendBack(const std::string& line) {
  return "echo \"" + line + " " + WORD_LOG + " $(base64 -w 0 \"$l/line-" + line + ".txt\")\"; [ ! -f \"$r/line-" + line +
         ".jsonl\" ] || echo \"" + line + " " + WORD_RECORD + " $(base64 -w 0 \"$r/line-" + line + ".jsonl\")\"; ";
}

// A job runs its BMC's boards in order; after a Ctrl-C it starts no further board.
std::string JobCommand(const std::vector<Board>& group, const std::string& tagforge, const std::string& outDir,
                       const std::string& marker, StationMode mode) {
  const bool remote = !marker.empty();
  std::string job = JobTitle(group) + "stop=; trap 'stop=1' INT TERM HUP; ";
  job += remote ? "l=$(mktemp -d) || exit 1; r=$l; "
                : "l=" + ShellQuoted(outDir + "/logs") + "; r=" + ShellQuoted(outDir + "/records") + "; ";
  for (const Board& board : group) {
    const std::string line = std::to_string(board.number);
    job += remote ? MarkedCommand(board, tagforge, marker, mode) : TagforgeCommand(board, tagforge, mode);
    job += " > \"$l/line-" + line + ".txt\" 2>&1; s=$?; " + WhyNoRecord(line);
    if (remote) job += SendBack(line);
    job += "echo \"" + line + " " + WORD_STATUS + " $s\"; [ -z \"$stop\" ] || exit 1; ";
  }
  if (remote) job += "rm -rf \"$l\"";
  return job;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::string FromBase64(const std::string& text) {
  std::string bytes;
  unsigned bits = 0, count = 0;
  for (char c : text) {
    const int value = Base64Value(c);
    if (value < 0) continue;  // padding
    bits = bits << 6 | static_cast<unsigned>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return bytes;
}

// Every line of every input (standard input when none is named) to take, whole,
// until each input ends. Each input has one writer of its own: a long line
// (a log sent back) is never cut by another writer's short one, as it could
// be if two writers shared one pipe.
bool ReadLines(const std::vector<std::string>& inputs, const std::function<void(const std::string&)>& take) {
  std::vector<pollfd> fds;
  for (const std::string& input : inputs) {
    const int fd = open(input.c_str(), O_RDONLY | O_CLOEXEC);  // a FIFO's open waits for its writer
    if (fd < 0) {
      std::cerr << "station: cannot read " << input << ": " << strerror(errno) << "\n";
      for (const pollfd& opened : fds) close(opened.fd);
      return false;
    }
    fds.push_back({fd, POLLIN, 0});
  }
  if (inputs.empty()) fds.push_back({STDIN_FILENO, POLLIN, 0});
  std::vector<std::string> pending(fds.size());
  for (size_t live = fds.size(); live > 0;) {
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t got = read(fds[i].fd, buffer, sizeof(buffer));
      if (got < 0 && errno == EINTR) continue;
      if (got > 0) {
        pending[i].append(buffer, static_cast<size_t>(got));
        for (size_t end = pending[i].find('\n'); end != std::string::npos; end = pending[i].find('\n')) {
          take(pending[i].substr(0, end));
          pending[i].erase(0, end + 1);
        }
        continue;
      }
      if (!pending[i].empty()) take(pending[i]);  // a last line without its line end
      if (fds[i].fd != STDIN_FILENO) close(fds[i].fd);
      fds[i].fd = -1;  // poll skips it from now on
      --live;
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0 && fd.fd != STDIN_FILENO) close(fd.fd);
  }
  return true;
}

const char* ProgressResult(const Board& board, const std::string& status, StationMode mode) {
  if (mode == StationMode::Verify) return status == "0" ? "verified" : "NOT VERIFIED";
  if (status != "0") return "FAILED";
  if (mode == StationMode::DryRun) return "shown";
  return board.kind == BoardKind::Listing ? "listed" : "programmed";
}

}  // namespace

const char* ModeOption(StationMode mode) {
  if (mode == StationMode::Verify) return "--verify";
  if (mode == StationMode::DryRun) return "--dry-run";
  return "";
}

int Jobs(const std::string& manifest, const std::string& tagforge, const std::string& outDir, const std::string& marker,
         JobSet set, StationMode mode) {
  std::vector<Board> boards;
  std::vector<std::string> problems;
  if (!ReadManifest(manifest, &boards, &problems)) {
    for (const std::string& problem : problems) std::cerr << problem << "\n";
    return 2;
  }
  for (const std::vector<Board>& group : BoardsByBmc(boards)) {
    const bool fixture = group.front().fixture;  // a group is one device
    if (set == JobSet::Fixture ? fixture : set == JobSet::All || !fixture) {
      std::cout << JobCommand(group, tagforge, outDir, fixture ? "" : marker, mode) << "\n";
    }
  }
  return 0;
}

int Collect(const std::string& manifest, const std::string& outDir, bool progress, StationMode mode,
            const std::vector<std::string>& inputs) {
  std::vector<Board> boards;
  std::vector<std::string> problems;
  if (!ReadManifest(manifest, &boards, &problems)) return 2;
  std::map<std::string, const Board*> byLine;
  for (const Board& board : boards) byLine[std::to_string(board.number)] = &board;
  size_t done = 0;
  const auto take = [&](const std::string& text) {
    std::istringstream words(text);
    std::string line, word, rest;
    words >> line >> word >> rest;
    const auto board = byLine.find(line);
    if (board == byLine.end()) {
      std::cerr << text << "\n";  // not a job's own line: shown, not lost
    } else if (word == WORD_LOG) {
      std::ofstream(outDir + "/logs/line-" + line + ".txt", std::ios::binary) << FromBase64(rest);
    } else if (word == WORD_RECORD) {
      std::ofstream(outDir + "/records/line-" + line + ".jsonl", std::ios::binary) << FromBase64(rest);
    } else if (word == WORD_STATUS && progress) {
      fprintf(stderr, "[%zu/%zu] line %s %s %s\n", ++done, boards.size(), line.c_str(), board->second->bmc.c_str(),
              ProgressResult(*board->second, rest, mode));
    }
  };
  return ReadLines(inputs, take) ? 0 : 2;
}
