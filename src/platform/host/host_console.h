// Host-only hooks on the console, for tests that run the tool in-process.
#pragma once

#include <string>

// While a capture is set, console output (narrow and wide) is appended to it
// instead of going to standard output. Null restores standard output.
void HostConsoleCapture(std::string* sink);

// While set, words are read from this text instead of standard input.
// Null restores standard input.
void HostConsoleSetInput(const std::string* input);
