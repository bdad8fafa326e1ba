// The FRU operations every device shares: identity, size, and reading and
// writing ranges in chunks with bounded retries. Each prints its own messages.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

constexpr size_t FRU_CHUNK_MAX = 32;
constexpr size_t FRU_CHUNK_MIN = 8;

// What the FRU operations are given: the run's device, and what the run has
// learnt of how much it reads at once.
struct FruDevice {
  const PlatformFruDevice* ops;
  // A larger read refused, cut short or answered with bytes that differ from
  // the 32-byte reads: 32-byte reads for the rest of the run.
  bool readsFixed;
  // A write was answered with fewer bytes than it sent (or more: the whole
  // FRU it stored from its cache): the device holds what
  // it takes in a cache and stores it later. Every write of the run then ends
  // with the chunk that makes it store, and waits for the store.
  bool storesLater;
  // The device refused to store the FRU as a write left it (since the flag was cleared).
  bool storeRefused;
};

// The device's identity lines (a BMC's revision); false once it has printed
// why the run cannot go on. Keeps what the journal matches entries by.
bool IdentifyFruDevice(FruDevice& device, PlatformBmcIdentity* identity);

// The inventory size; prints the size and the ID lines on success. The
// requests carry the low 8 bits of fruId; messages print all of it.
bool GetFruInventorySize(FruDevice& device, int32_t fruId, uint16_t* size);

// Whether a read that gives up prints its "[ERROR]" lines. A read-back that
// is followed by another attempt reports its failure in its own words.
enum class FruReadErrors { Print, Quiet };

// How much a read asks for at once: 32 bytes, or, on a device that can carry
// more (a message transport), reads that double while the device returns
// every byte asked for. The first read at each new size starts over the 32
// bytes first read at 32-byte size and must give them back equal, so that a
// device that garbles larger reads cannot poison the image an edit is made
// from. A read-back after a write always reads 32 bytes at a time.
enum class FruReadSizes { Fixed, Growing };

// Reads size bytes (at most the image buffer, which the caller guarantees)
// from offset 0 into image.
bool ReadFruImage(FruDevice& device, int32_t fruId, uint16_t size, uint8_t* image,
                  FruReadErrors errors = FruReadErrors::Print, FruReadSizes sizes = FruReadSizes::Fixed);
// Reads the bytes from start to end into image at the same offsets, in chunks from start.
bool ReadFruRange(FruDevice& device, int32_t fruId, size_t start, size_t end, uint8_t* image, FruReadErrors errors,
                  FruReadSizes sizes = FruReadSizes::Fixed);

// Who hears of the chunks a write sends: before each attempt (the device may
// store part of a chunk it then refuses) and once the device took a chunk.
struct FruChunkLog {
  void (*sent)(void* context, size_t offset, size_t count);
  void (*taken)(void* context, size_t offset, size_t count);
  void* context;
};

// Writes the bytes from start to end, in chunks from start (32 bytes, halved
// when the device asks). A chunk whose bytes equal unchanged at the same
// offsets (when given) is not sent: it is what the FRU holds. An
// interruptible write stops before the next chunk once the platform holds a
// signal. True once every chunk was taken and the device has made them last.
bool WriteFruRange(FruDevice& device, int32_t fruId, size_t start, size_t end, const uint8_t* bytes,
                   const uint8_t* unchanged, const FruChunkLog* log, bool interruptible = false);
