// The tool's own token checks (what --check runs) for a program that checks
// many command lines in one process: a station's manifest check.
//
// Inline on purpose: the caller's own object then names the core's
// TagforgeCheck, so linking tagforge_core and then tagforge_host (the order
// every program here uses) finds the driver before the platform it needs.
#pragma once

#include <string>
#include <vector>

#include "app/driver.h"
#include "platform/host/host_console.h"
#include "platform/print.h"

struct HostTokenCheck {
  bool passed;
  // The failure lines of the check, in order, without their line end (the
  // "[ERROR] " lines and the tool's messages that have no such prefix).
  std::vector<std::string> errorLines;
  // Everything the check printed, as `tagforge --check` prints it after its banner.
  std::string output;
};

// Checks one command line's tokens as `tagforge --check TOKENS...` does: no
// device chosen or opened, no lock, no journal, no record; nothing reaches
// standard output and standard input is never read. A FILE= token's file is
// read from TAGFORGE_VOLUME as a run reads it. Not for use while a run is
// going on in the same process (they share the run's state).
inline HostTokenCheck HostCheckTokens(const std::vector<std::string>& tokens) {
  std::vector<std::string> copies(tokens);
  std::vector<char*> items;
  items.reserve(copies.size());
  for (std::string& token : copies) items.push_back(token.data());
  HostTokenCheck check{false, {}, {}};
  const std::string noInput;
  HostConsoleCapture(&check.output);
  HostConsoleSetInput(&noInput);
  const int status = TagforgeCheck(static_cast<int>(items.size()), items.data());
  HostConsoleSetInput(nullptr);
  HostConsoleCapture(nullptr);
  check.passed = status == 0;
  for (int i = 0; i < ConsoleErrorLineCount(); ++i) check.errorLines.emplace_back(ConsoleErrorLine(i));
  return check;
}
