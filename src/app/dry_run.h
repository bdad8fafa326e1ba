// A dry run: an edit or a clear up to its first write, then what the write
// would change instead of the write.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "app/run_state.h"

// In place of the write: one "%s: %s -> %s" line per field whose value the
// write would change (the FRU as read against after, the inventory as the
// write would leave it), then what it would send of written.
void ShowDryRunWrite(RunState& run, const uint8_t* written, size_t writtenSize, const uint8_t* after);

// The last line of every dry run that has read the FRU.
void EndDryRun();
