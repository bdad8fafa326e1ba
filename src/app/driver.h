// The program's one pass, for the callers that choose how it reaches and
// writes the FRU (a benchmark comparing schedules); TagforgeMain runs it with
// the defaults.
#pragma once

#include "app/run_state.h"

int TagforgeRun(int argc, char** argv, const RunOptions& options);
