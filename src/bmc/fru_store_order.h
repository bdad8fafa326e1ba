// The order of a write's chunks on a BMC that stores its FRU later. Such a BMC
// keeps the FRU in a cache and stores the whole cache as soon as a write
// reaches the end of the last area, reading that end in the cache as it is at
// that moment. A write that moves areas changes the Common Header first or
// last, and either way the cache can meanwhile show an end that a later chunk
// of the old layout or an early chunk of the new one reaches: a store of half
// an image. So the chunks go in an order in which, as the cache reads after
// each one, none but the last reaches the end, and the last is the chunk that
// ends at the end of the new image's last area.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "bmc/fru_storage.h"

// The most chunks of FRU_CHUNK_MAX bytes below the largest FRU offset, one bit each.
constexpr size_t FRU_STORE_CHUNK_COUNT = 65536 / FRU_CHUNK_MAX;
constexpr size_t FRU_STORE_CHUNK_BYTES = FRU_STORE_CHUNK_COUNT / 8;

// The end of the last area as a BMC that stores later reads it in image: the
// start of the last area (the largest offset in the Common Header) plus its
// length, or, when there is a MultiRecord Area, the end of the record that
// ends the list, walking from that start. 0 for a Common Header that does not
// parse (every write reaches that end); size when the records run past it.
size_t FruStoreEnd(const uint8_t* image, size_t size);

// The chunk of the 32-byte grid below size that holds the byte before
// storeEnd (the last chunk when storeEnd is 0 or past size): [*start, *end).
void FruStoringChunk(size_t storeEnd, size_t size, size_t* start, size_t* end);

// A write of target's chunks over what the BMC's cache holds. The cache holds
// base, except at the offsets marked in changed (when given), where it holds
// changedBytes: what an undone write had sent there.
struct FruStorePlan {
  const uint8_t* target;
  size_t targetSize;  // the chunks lie below it
  const uint8_t* base;
  size_t baseSize;  // the cache's size
  const uint8_t* changed;  // one bit per offset, or null
  const uint8_t* changedBytes;
  uint8_t due[FRU_STORE_CHUNK_BYTES];   // the chunks to send
  uint8_t sent[FRU_STORE_CHUNK_BYTES];  // of those, the ones handed out so far
};

void MarkStoreChunk(uint8_t* bits, size_t chunk);
bool IsStoreChunk(const uint8_t* bits, size_t chunk);

// Hands out the next chunk to send and marks it sent: the lowest due one that,
// once in the cache, leaves the cache's end beyond it; the storing chunk of
// target last. A target whose own header does not parse (a clear) has no end
// to keep clear of: its chunks go in offset order. When no chunk is safe
// (a cache that no order keeps whole), the lowest due one. False when none is left.
bool NextStoreChunk(FruStorePlan& plan, size_t* chunk);
