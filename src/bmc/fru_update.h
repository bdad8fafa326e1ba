// Changing a FRU safely: every write is read back and compared, and a write
// that breaks off is undone with the data the FRU held before.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "bmc/fru_storage.h"

// Which chunks a write sends: those whose bytes differ from what the FRU held
// at the start of the run, or every chunk (kept so that the benchmark can show
// what the difference saves).
enum class FruWriteSchedule { ChangedChunks, WholeImage };
extern FruWriteSchedule gFruWriteSchedule;

// How a write ended: the new data verified in the FRU; or not written, with
// the FRU verified to hold what it held before (nothing sent, or all of it put
// back); or unsettled, the FRU possibly holding part of the new data.
enum class FruWriteOutcome { Written, Restored, Unsettled };

// Writes size bytes of bytes from offset 0, sending only the chunks that
// differ from original (what the FRU held at the start of the run), and checks
// them by reading those chunks back. A mismatch is written and checked once
// more; it is never undone (a BMC that normalises what it stores would undo the
// operator's change). A write that fails, or that a signal interrupts, writes
// original back over every byte any pass may have changed. readBack is the
// caller's room for what is read back, at least size bytes; touched records
// the offsets sent.
FruWriteOutcome UpdateFruData(int32_t fruId, const uint8_t* bytes, size_t size, const uint8_t* original,
                              uint8_t* readBack, FruTouched* touched);

// Writes size zero bytes from offset 0 the same way (only the chunks that are
// not zero already), from zeros (the caller's room of at least size bytes);
// prints "done." or "error.".
FruWriteOutcome ClearFruData(int32_t fruId, uint16_t size, const uint8_t* original, uint8_t* readBack,
                             uint8_t* zeros, FruTouched* touched);

// Writes original over the bytes where current (what the FRU holds now)
// differs from it, and reads them back; true once all of them read back equal.
bool PutBackFruData(int32_t fruId, const uint8_t* original, const uint8_t* current, size_t size, uint8_t* readBack,
                    FruTouched* touched);
