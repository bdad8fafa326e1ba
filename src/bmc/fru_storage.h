// The BMC operations the tool needs: identity, FRU size, whole-image read,
// chunked write and clear. Each prints its own messages.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

#ifndef TAGFORGE_MANUFACTURER_IDS
#define TAGFORGE_MANUFACTURER_IDS 32473
#endif
// The IANA enterprise numbers of the BMCs this build supports, all 24 bits
// compared (the platform may name others for a run).
constexpr uint32_t BMC_BUILD_MANUFACTURER_IDS[] = {TAGFORGE_MANUFACTURER_IDS};

constexpr size_t FRU_CHUNK_MAX = 32;
constexpr size_t FRU_CHUNK_MIN = 8;

// Get Device ID, up to five attempts; prints the revision line on success
// and, when asked, keeps the manufacturer and product IDs in *identity.
bool CheckBmcIdentity(PlatformBmcIdentity* identity = nullptr);

// Get Device GUID, once: identity->hasGuid says whether the BMC gave one.
void AskDeviceGuid(PlatformBmcIdentity* identity);

// Get FRU Inventory Area Info; prints the size and the ID lines on success.
// The requests carry the low 8 bits of fruId; messages print all of it.
bool GetFruInventorySize(int32_t fruId, uint16_t* size);

// Whether a read that gives up prints its "[ERROR]" lines. A read-back that
// is followed by another attempt reports its failure in its own words.
enum class FruReadErrors { Print, Quiet };

// Reads size bytes (at most the image buffer, which the caller guarantees)
// from offset 0 into image.
bool ReadFruImage(int32_t fruId, uint16_t size, uint8_t* image, FruReadErrors errors = FruReadErrors::Print);
// Reads the bytes from start to end into image at the same offsets, in chunks from start.
bool ReadFruRange(int32_t fruId, size_t start, size_t end, uint8_t* image, FruReadErrors errors);

// The FRU offsets a change has sent bytes to, a refused chunk included (a BMC
// may have stored part of it). Offsets are 16 bits, so every one has a bit.
constexpr size_t FRU_OFFSET_COUNT = 65536;
struct FruTouched {
  uint8_t bits[FRU_OFFSET_COUNT / 8];
  uint8_t accepted[FRU_OFFSET_COUNT / 8];  // of those, the offsets of chunks the BMC said it took
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

// Writes the bytes from start to end, in chunks from start (32 bytes, halved
// when the BMC asks). A chunk whose bytes equal unchanged at the same offsets
// (when given) is not sent: it is what the FRU holds. Every chunk sent is
// marked in touched (when given). An interruptible write stops before the
// next chunk once the platform holds a signal. Returns the data count of the
// last chunk's answer (0 when none was sent), or -1 when the write failed or
// stopped.
int32_t WriteFruRange(int32_t fruId, size_t start, size_t end, const uint8_t* bytes, const uint8_t* unchanged,
                      FruTouched* touched, bool interruptible = false);
// Writes length bytes at FRU offsets 0 to length - 1, every chunk sent.
int32_t WriteFruData(int32_t fruId, int32_t length, const uint8_t* bytes);
