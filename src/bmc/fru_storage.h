// The BMC operations the tool needs: identity, FRU size, whole-image read,
// chunked write and clear. Each prints its own messages.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifndef TAGFORGE_MANUFACTURER_IDS
#define TAGFORGE_MANUFACTURER_IDS 32473
#endif
// The IANA enterprise numbers of the BMCs this build supports, all 24 bits
// compared (the platform may name others for a run).
constexpr uint32_t BMC_BUILD_MANUFACTURER_IDS[] = {TAGFORGE_MANUFACTURER_IDS};

constexpr size_t FRU_CHUNK_MAX = 32;
constexpr size_t FRU_CHUNK_MIN = 8;

// Get Device ID, up to five attempts; prints the revision line on success.
bool CheckBmcIdentity();

// Get FRU Inventory Area Info; prints the size and the ID lines on success.
// The requests carry the low 8 bits of fruId; messages print all of it.
bool GetFruInventorySize(int32_t fruId, uint16_t* size);

// Whether a read that gives up prints its "[ERROR]" lines. A read-back that
// is followed by another attempt reports its failure in its own words.
enum class FruReadErrors { Print, Quiet };

// Reads size bytes (at most the image buffer, which the caller guarantees)
// from offset 0 into image.
bool ReadFruImage(int32_t fruId, uint16_t size, uint8_t* image, FruReadErrors errors = FruReadErrors::Print);

// Writes length bytes at FRU offsets 0 to length - 1. Returns the data count
// of the last chunk's answer, or -1 when the write failed. When reached is
// given it receives the end of the farthest chunk sent, a refused one included
// (a BMC may have stored part of it): every byte below it may have changed.
int32_t WriteFruData(int32_t fruId, int32_t length, const uint8_t* bytes, size_t* reached = nullptr);
