// The summary of a run that the platform gets as the run ends: the fields
// asked for, what the FRU holds as far as the run knows, what was written.
#pragma once

#include "app/run_state.h"

void ReportRun(const RunState& run, bool usage, int status);
