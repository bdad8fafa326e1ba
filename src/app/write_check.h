// The lint that every edit passes before anything is sent: the FRU as read
// and the FRU as the write would leave it.
#pragma once

#include "app/run_state.h"

// Before the rebuild: false when the FRU as read has an error that the edit
// would carry over or hide under a fresh checksum. Each is printed as
// "[ERROR] The FRU would not be valid: ..." saying it was there before the
// run, then what repairs it, then "error.".
bool CheckFruAsRead(RunState& run, const FieldEntry* rows, int rowCount);
// After the rebuild: true when the FRU the write leaves has no error, its
// warnings printed; otherwise its errors are printed as above, then "error.".
// What either check printed becomes the run's lint, for its record.
bool CheckEditBeforeWrite(RunState& run, const FieldEntry* rows, int rowCount);
