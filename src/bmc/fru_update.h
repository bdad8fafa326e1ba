// Changing a FRU safely: every write is read back and compared, and a write
// that breaks off is undone with the data the FRU held before.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Writes size bytes of bytes from offset 0 and checks them by reading them
// back. A mismatch is written and checked once more; it is never undone (a
// BMC that normalises what it stores would undo the operator's change). A
// write that fails after chunks were sent writes original (what the FRU held
// before) back over every byte any pass may have changed. True only when the
// new data is in the FRU.
// readBack is the caller's room for what is read back, at least size bytes.
bool UpdateFruData(int32_t fruId, const uint8_t* bytes, size_t size, const uint8_t* original, uint8_t* readBack);

// Writes size zero bytes from offset 0 the same way, from zeros (the caller's
// room of at least size bytes); prints "done." or "error.".
bool ClearFruData(int32_t fruId, uint16_t size, const uint8_t* original, uint8_t* readBack, uint8_t* zeros);
