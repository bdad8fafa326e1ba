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
struct FruWriteOptions {
  FruWriteSchedule schedule = FruWriteSchedule::ChangedChunks;
  // The bytes the original holds (the inventory as read); 0: as many as the write.
  size_t originalSize = 0;
};

// The FRU offsets a change has sent bytes to, a refused chunk included (a
// device may have stored part of it). Offsets are 16 bits, so every one has a bit.
constexpr size_t FRU_OFFSET_COUNT = 65536;
struct FruTouched {
  uint8_t bits[FRU_OFFSET_COUNT / 8];
  uint8_t accepted[FRU_OFFSET_COUNT / 8];  // of those, the offsets of chunks the device said it took
};
void ClearTouched(FruTouched* touched);
size_t CountTouched(const FruTouched& touched, size_t end);
size_t CountAccepted(const FruTouched& touched, size_t end);
bool IsTouched(const FruTouched& touched, size_t offset);
// The next run of touched offsets at or after from, below end: false when there is none.
bool NextTouchedRun(const FruTouched& touched, size_t from, size_t end, size_t* runStart, size_t* runEnd);
// Calls visit(runStart, runEnd) for each run of touched offsets below end, in
// order, until a call returns false; false then.
template <typename Visit>
bool ForEachTouchedRun(const FruTouched& touched, size_t end, Visit visit) {
  size_t runStart = 0;
  size_t runEnd = 0;
  for (size_t from = 0; NextTouchedRun(touched, from, end, &runStart, &runEnd); from = runEnd) {
    if (!visit(runStart, runEnd)) return false;
  }
  return true;
}

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
// the offsets sent. On a BMC that stores later (a chunk answered with fewer
// bytes than sent) the chunks go in an order that keeps any store from holding
// half an image, the write ends with the chunk that makes the BMC store, and
// the FRU is read until it shows the new image (at most FRU_STORE_WAIT_US).
// A signal during that wait ends it at once, unsettled.
FruWriteOutcome UpdateFruData(FruDevice& device, int32_t fruId, const uint8_t* bytes, size_t size,
                              const uint8_t* original, uint8_t* readBack, FruTouched* touched,
                              const FruWriteOptions& options = {});

// Writes size zero bytes from offset 0 the same way (only the chunks that are
// not zero already), from zeros (the caller's room of at least size bytes);
// prints "done." or "error.".
FruWriteOutcome ClearFruData(FruDevice& device, int32_t fruId, uint16_t size, const uint8_t* original,
                             uint8_t* readBack, uint8_t* zeros, FruTouched* touched,
                             const FruWriteOptions& options = {});

// What a write of size bytes over original would send: the 32-byte chunks of
// the schedule (on ChangedChunks, those whose bytes differ), before any
// halving a device may ask for.
struct FruWritePlan {
  size_t bytes;
  size_t chunks;
};
FruWritePlan PlanFruWrite(const uint8_t* bytes, size_t size, const uint8_t* original,
                          const FruWriteOptions& options = {});

// Writes original over the bytes where current (what the FRU holds now)
// differs from it, and reads them back; true once all of them read back equal.
bool PutBackFruData(FruDevice& device, int32_t fruId, const uint8_t* original, const uint8_t* current, size_t size, uint8_t* readBack,
                    FruTouched* touched);

// Sends again the chunk of image (what the FRU shows, size bytes) that makes a
// BMC that stores later store it, and on such a BMC reads until the FRU shows
// it stored (before: what it held before). A BMC that stores at once takes the
// chunk as any write. False, with its line printed, when it cannot be shown stored.
bool StoreWhatTheFruShows(FruDevice& device, int32_t fruId, const uint8_t* image, const uint8_t* before, size_t size,
                          uint8_t* readBack);
