// The lint that every edit passes before anything is sent: the FRU as read
// and the FRU as the write would leave it.
#pragma once

#include "app/run_state.h"

// True when the new image may be written; its warnings are printed. False
// when either image has an error the write would leave or hide: each is
// printed as "[ERROR] The FRU would not be valid: ...", then "error.".
// What was printed becomes the run's lint, for its record.
bool CheckEditBeforeWrite(RunState& run, const FieldEntry* rows, int rowCount);
