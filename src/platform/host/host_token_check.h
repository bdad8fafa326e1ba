// The tool's own token checks (what --check runs) for a program that checks
// many command lines in one process: a station's manifest check.
#pragma once

#include <string>
#include <vector>

struct HostTokenCheck {
  bool passed;
  // The failure lines of the check, in order, without their line end (the
  // "[ERROR] " lines and the tool's messages that have no such prefix).
  std::vector<std::string> errorLines;
  // Everything the check printed, as `tagforge --check` prints it after its banner.
  std::string output;
};

// Checks one command line's tokens as `tagforge --check TOKENS...` does: no
// device chosen or opened, no lock, no journal, no record; nothing is printed
// and standard input is never read. A FILE= token's file is read from
// TAGFORGE_VOLUME as a run reads it. Not for use while a run is going on in
// the same process (they share the run's state).
HostTokenCheck HostCheckTokens(const std::vector<std::string>& tokens);
