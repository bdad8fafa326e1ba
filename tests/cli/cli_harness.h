// Runs the host tagforge as a process and collects what scripts would see:
// standard output and the exit status.
#pragma once

#include <map>
#include <string>
#include <vector>

struct CliResult {
  std::string output;
  int status = -1;
};

struct CliRun {
  std::vector<std::string> args;
  std::map<std::string, std::string> env;  // added to a clean environment
  std::string input;                       // standard input
  std::string workingDirectory;            // empty: the test's own
};

CliResult RunTagforge(const CliRun& run);

// The two lines every run begins with.
inline const std::string kBanner = "Tagforge v1.00 beta\n==============================\n";
