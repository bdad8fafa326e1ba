// The summary of a run that the platform gets as the run ends: the fields
// asked for, what the FRU holds as far as the run knows, what was written.
#pragma once

#include "app/run_state.h"

void ReportRun(const RunState& run, bool usage, int status);

// The summary as the run stands, before a point where it may wait (the
// scanner, the device), for a platform that reports a run a signal ends there.
void NoteRunSoFar(const RunState& run);
