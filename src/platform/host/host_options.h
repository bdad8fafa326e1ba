// Host-only: the options the host program takes before the tool runs, each a
// whole token in any letter case. --help and --version print and end the
// program whatever else the command line holds; --json turns the run's
// record into the program's only standard output.
#pragma once

#include <string>
#include <vector>

struct HostOptions {
  bool help = false;
  bool version = false;
  bool json = false;
  // The program name and the tool's tokens (the host's options taken out),
  // then a null; count leaves the null out.
  std::vector<char*> args;
  int count = 0;
};
HostOptions HostTakeOptions(int argc, char** argv);

// The banner and the usage text as a run without arguments prints them, then
// one line per host setting. Returns the exit status, 0.
int HostPrintHelp();
// "tagforge VERSION", then the build's options. Returns the exit status, 0.
int HostPrintVersion(bool staticBinary);

// From now on the console text goes to standard error and each run's record
// to standard output (host_json.cpp).
void HostUseJsonOutput();
bool HostJsonOutput();
// The record line (with its line feed) on standard output, under --json only.
void HostPrintJsonRecord(const std::string& line);
