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

// Writes size bytes of bytes from offset 0, sending only the chunks that
// differ from original (what the FRU held at the start of the run), and checks
// them by reading those chunks back. A mismatch is written and checked once
// more; it is never undone (a BMC that normalises what it stores would undo the
// operator's change). A write that fails writes original back over every byte
// any pass may have changed. True only when the new data is in the FRU.
// readBack is the caller's room for what is read back, at least size bytes;
// touched records the offsets sent.
bool UpdateFruData(int32_t fruId, const uint8_t* bytes, size_t size, const uint8_t* original, uint8_t* readBack,
                   FruTouched* touched);

// Writes size zero bytes from offset 0 the same way (only the chunks that are
// not zero already), from zeros (the caller's room of at least size bytes);
// prints "done." or "error.".
bool ClearFruData(int32_t fruId, uint16_t size, const uint8_t* original, uint8_t* readBack, uint8_t* zeros,
                  FruTouched* touched);
