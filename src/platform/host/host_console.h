// Host-only hooks on the console, for tests that run the tool in-process.
#pragma once

#include <string>

// While a capture is set, console output (narrow and wide) is appended to it
// instead of going to standard output. Null restores standard output.
void HostConsoleCapture(std::string* sink);

// From now on the console text goes to standard error (--json keeps standard
// output for the run's record).
void HostConsoleToStandardError();

// A failure line of the host's own (a session refused, a BMC given up on): to
// standard error, where scripts keep it apart from the tool's text, and into
// the run's list of failure lines, where its record shows it in order.
void HostFailureLine(const std::string& line);

// While set, words are read from this text instead of standard input.
// Null restores standard input.
void HostConsoleSetInput(const std::string* input);
