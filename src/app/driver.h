// The program's one pass, for the callers that choose how it reaches and
// writes the FRU (a benchmark comparing schedules); TagforgeMain runs it with
// the defaults.
#pragma once

#include "app/run_state.h"

int TagforgeRun(int argc, char** argv, const RunOptions& options);

// What `tagforge --check TOKENS...` does after its banner, in this process,
// for a caller that checks many lines (a station's manifest): the tokens are
// the command line (a FILE= among them is read), checked exactly as a run
// checks them up to its first request to the BMC. No device is chosen or
// opened, no lock taken, no journal touched, no record made, and the scanner
// is never asked. Prints what the check prints, its last line "check passed."
// or its error lines; the "[ERROR] " lines are then ConsoleErrorLine(0 ..
// ConsoleErrorLineCount() - 1). Returns 0 (passed) or 1.
int TagforgeCheck(int count, char** tokens);
