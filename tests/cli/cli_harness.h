// Runs the host tagforge as a process and collects what scripts would see:
// standard output and the exit status.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct CliResult {
  std::string output;
  std::string errors;  // standard error: the simulated BMC's counters, backend messages
  int status = -1;
  bool signalled = false;  // ended by a signal (status 128 + its number), not by exit(): a shell loop stops too
};

struct CliRun {
  std::vector<std::string> args;
  std::map<std::string, std::string> env;  // added to a clean environment
  std::string input;                       // standard input
  std::string workingDirectory;            // empty: the test's own
  std::string user;                        // empty: the test's own; else run as this user (setpriv)
};

// A second Unix user the tests may run tagforge as ("nobody"), or "" when the
// tests cannot (not root, no such user, no setpriv).
std::string SecondUser();

CliResult RunTagforge(const CliRun& run);

inline bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The text without the lines that name the BMC's revision and, when asked,
// its inventory size: what differs between BMCs that hold the same FRU.
std::string WithoutBmcLines(const std::string& text, bool sizeToo);

// The two lines every run begins with.
inline const std::string kBanner = "Tagforge v1.00 beta\n==============================\n";

// A scratch directory that lives as long as the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
