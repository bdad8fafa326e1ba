#include "bmc/fru_storage.h"

#include "bmc/fru_size_cause.h"
#include "platform/platform.h"
#include "runtime/print.h"
#include "runtime/text.h"
#include "runtime/verbose.h"

namespace {

constexpr int FRU_READ_ATTEMPTS = 12;
constexpr int FRU_WRITE_ATTEMPTS = 11;
constexpr uint32_t FRU_RETRY_DELAY_US = 1000;
// A device that reports itself busy gets a longer pause before the next write attempt.
constexpr uint32_t FRU_BUSY_DELAY_US = 5000;

size_t Smaller(size_t a, size_t b) { return a < b ? a : b; }

// The largest read that grows: Read FRU Data counts in one byte, and sizes
// that stay multiples of 32 keep the chunk grid of the 32-byte reads, so that
// a FRU whose size is a multiple of 32 never ends in a chunk of a few bytes
// (some BMCs refuse a read of the very last byte).
constexpr size_t FRU_READ_GROWTH_MAX = 224;

// A device that refuses a chunk as too long gets half as much from then on,
// down to 8 bytes; above 32 bytes (a grown read) it goes back to 32 at once.
bool ShrinkChunk(PlatformFruOutcome outcome, size_t* chunkLimit, size_t* chunk, FruDevice& device) {
  if (outcome != PlatformFruOutcome::TooLong || *chunkLimit <= FRU_CHUNK_MIN) return false;
  if (*chunkLimit > FRU_CHUNK_MAX) {
    device.readsFixed = true;
    *chunkLimit = FRU_CHUNK_MAX;
  } else {
    *chunkLimit /= 2;
  }
  *chunk = Smaller(*chunk, *chunkLimit);
  return true;
}

// The chunk lines: "Read Fru %d startOffset=0x%x, length=%d\n" and their write and error twins.
void PrintChunk(const char* format, int32_t fruId, size_t offset, size_t chunk) {
  Print(format, fruId, static_cast<unsigned>(offset), static_cast<int>(chunk));
}

constexpr const char* READ_CHUNK_TRACE = "Read Fru %d startOffset=0x%x, length=%d\n";
constexpr const char* READ_CHUNK_ERROR = "[ERROR] Read Fru %d startOffset=0x%x, length=%d\n";
constexpr const char* WRITE_CHUNK_TRACE = "Write Fru %d startOffset=0x%x, length=%d\n";
constexpr const char* WRITE_CHUNK_ERROR = "[ERROR] Write Fru %d startOffset=0x%x, length=%d\n";

// What reading and writing a FRU in chunks share: one pass from start to end
// in chunks of at most 32 bytes, halved down to 8 when the device says a
// chunk is too long, each chunk tried a bounded number of times.
struct ChunkWalk;
struct ChunkOperation {
  const char* trace;  // the verbose line of a chunk about to be sent
  const char* error;  // the line of a chunk given up on
  int attempts;
  PlatformFruTransfer (*attempt)(const ChunkWalk& walk, size_t offset, size_t chunk);
  // The pause before the next attempt at a chunk that failed so.
  void (*pause)(PlatformFruOutcome outcome);
};

struct ChunkWalk {
  FruDevice& device;
  int32_t fruId;
  uint8_t* image;            // reading: where the bytes go
  const uint8_t* bytes;      // writing: what is sent
  const uint8_t* unchanged;  // writing, when given: a chunk equal to these bytes is not sent
  const FruChunkLog* log;    // writing, when given: hears of every chunk sent
  bool printError;           // whether a chunk given up on prints its line
  bool interruptible;        // a signal held by the platform stops the walk before the next chunk
};

// A chunk that holds what the FRU holds already needs no request.
bool IsUnchanged(const ChunkWalk& walk, size_t offset, size_t chunk) {
  return walk.unchanged != nullptr && CompareBytes(walk.bytes + offset, walk.unchanged + offset, chunk) == 0;
}

void LogSent(const ChunkWalk& walk, size_t offset, size_t count) {
  if (walk.log != nullptr) walk.log->sent(walk.log->context, offset, count);
}

void LogTaken(const ChunkWalk& walk, size_t offset, size_t count) {
  if (walk.log != nullptr) walk.log->taken(walk.log->context, offset, count);
}

// Every chunk from start to end, or false at the first chunk given up on.
// The grid is the same whether or not a chunk is sent, so a halving moves it
// as it would for a full write.
bool WalkChunks(const ChunkOperation& op, const ChunkWalk& walk, size_t start, size_t end,
                size_t chunkLimit = FRU_CHUNK_MAX) {
  size_t offset = start;
  while (offset < end) {
    if (walk.interruptible && PlatformInterruption() != nullptr) return false;
    size_t chunk = Smaller(end - offset, chunkLimit);
    bool traced = false;  // the chunk's line, once per chunk size
    for (int attempt = 1;;) {
      if (IsUnchanged(walk, offset, chunk)) {
        offset += chunk;
        break;
      }
      if (!traced && gVerbose) PrintChunk(op.trace, walk.fruId, offset, chunk);
      traced = true;
      LogSent(walk, offset, chunk);
      const PlatformFruTransfer done = op.attempt(walk, offset, chunk);
      if (done.outcome == PlatformFruOutcome::Done && done.count > 0) {
        // A write counted larger than sent stored a cache of the whole FRU: a BMC that stores later.
        if (done.count > chunk) walk.device.storesLater = true;
        const size_t count = Smaller(done.count, chunk);
        // A grown read cut short: the device does not keep up, back to 32 bytes.
        if (count < chunk && chunkLimit > FRU_CHUNK_MAX) {
          walk.device.readsFixed = true;
          chunkLimit = FRU_CHUNK_MAX;
        }
        LogTaken(walk, offset, count);
        offset += count;  // a short read: the next request asks for the rest
        break;
      }
      // Taken into the device's cache whatever the count: the rest is not asked for again.
      if (done.outcome == PlatformFruOutcome::Held) {
        walk.device.storesLater = true;
        LogTaken(walk, offset, chunk);
        offset += chunk;
        break;
      }
      // The device has said why, and asking again will not change it.
      if (done.outcome == PlatformFruOutcome::Refused) walk.device.storeRefused = true;
      if (done.outcome == PlatformFruOutcome::NotStored || done.outcome == PlatformFruOutcome::Refused) return false;
      if (ShrinkChunk(done.outcome, &chunkLimit, &chunk, walk.device)) {
        traced = false;  // the smaller chunk at the same offset is looked at afresh: it may hold no change
        continue;
      }
      if (attempt == op.attempts) {
        if (walk.printError) PrintChunk(op.error, walk.fruId, offset, chunk);
        return false;
      }
      ++attempt;
      op.pause(done.outcome);
    }
  }
  return true;
}

PlatformFruTransfer ReadChunk(const ChunkWalk& walk, size_t offset, size_t chunk) {
  const PlatformFruDevice& ops = *walk.device.ops;
  return ops.Read(ops.context, walk.fruId, offset, chunk, walk.image + offset);
}

void PauseBeforeRead(PlatformFruOutcome) { PlatformStall(FRU_RETRY_DELAY_US); }

PlatformFruTransfer WriteChunk(const ChunkWalk& walk, size_t offset, size_t chunk) {
  const PlatformFruDevice& ops = *walk.device.ops;
  return ops.Write(ops.context, walk.fruId, offset, walk.bytes + offset, chunk);
}

// A busy device gets a longer pause; other failures have had theirs in the attempt.
void PauseBeforeWrite(PlatformFruOutcome outcome) {
  if (outcome == PlatformFruOutcome::Busy) PlatformStall(FRU_BUSY_DELAY_US);
}

constexpr ChunkOperation FRU_READ = {READ_CHUNK_TRACE, READ_CHUNK_ERROR, FRU_READ_ATTEMPTS, ReadChunk, PauseBeforeRead};
constexpr ChunkOperation FRU_WRITE = {WRITE_CHUNK_TRACE, WRITE_CHUNK_ERROR, FRU_WRITE_ATTEMPTS, WriteChunk,
                                      PauseBeforeWrite};

size_t ReadGrowthMax(const FruDevice& device) {
  if (device.readsFixed) return FRU_CHUNK_MAX;
  const size_t max = device.ops->readGrowthMax < FRU_READ_GROWTH_MAX ? device.ops->readGrowthMax : FRU_READ_GROWTH_MAX;
  return max > FRU_CHUNK_MAX ? max / FRU_CHUNK_MAX * FRU_CHUNK_MAX : FRU_CHUNK_MAX;
}

// The growing reads from start, once the first 32 bytes have been read at
// 32-byte size: each larger size is tried once from start and kept when it
// returns every byte asked for and the first 32 equal those read before. The
// offset reached and the size that proved sound are handed back; any refusal,
// short answer or difference ends the growth for the rest of the run, keeping
// only bytes the 32-byte reads vouch for.
size_t GrowReads(const ChunkWalk& walk, size_t start, size_t end, size_t* sound) {
  const PlatformFruDevice& ops = *walk.device.ops;
  const size_t max = ReadGrowthMax(walk.device);
  size_t reached = start + FRU_CHUNK_MAX;
  *sound = FRU_CHUNK_MAX;
  // Doubling from 32, the last step up to the largest size the device takes.
  for (size_t size = Smaller(FRU_CHUNK_MAX * 2, max); size > *sound && reached < end;
       size = Smaller(size * 2, max)) {
    if (walk.interruptible && PlatformInterruption() != nullptr) break;
    const size_t ask = Smaller(size, end - start);
    uint8_t bytes[FRU_READ_GROWTH_MAX];
    if (gVerbose) PrintChunk(READ_CHUNK_TRACE, walk.fruId, start, ask);
    const PlatformFruTransfer done = ops.Read(ops.context, walk.fruId, start, ask, bytes);
    const size_t count = done.outcome == PlatformFruOutcome::Done ? Smaller(done.count, ask) : 0;
    const size_t compared = Smaller(count, FRU_CHUNK_MAX);
    if (count == 0 || CompareBytes(bytes, walk.image + start, compared) != 0) {
      walk.device.readsFixed = true;
      break;
    }
    // A short answer still brings bytes, vouched for by the ones it repeats.
    if (start + count > reached) {
      CopyBytes(walk.image + reached, bytes + (reached - start), start + count - reached);
      reached = start + count;
    }
    if (count < ask) {
      walk.device.readsFixed = true;
      break;
    }
    *sound = size;
  }
  return reached;
}

}  // namespace

bool IdentifyFruDevice(FruDevice& device, PlatformBmcIdentity* identity) {
  PlatformBmcIdentity ignored{};
  return device.ops->Identify(device.ops->context, identity != nullptr ? identity : &ignored);
}

bool GetFruInventorySize(FruDevice& device, int32_t fruId, uint16_t* size) {
  const PlatformFruSize answer = device.ops->InventorySize(device.ops->context, fruId);
  if (!answer.known) {
    Print("[ERROR] Get FRU size error\n");
    PrintFruSizeCause(answer, fruId);
    return false;
  }
  *size = answer.size;
  Print("Inventory FRU Size = %d Bytes\n", *size);
  Print("FRU data read from BMC: ID=%d\n", fruId);
  return true;
}

bool ReadFruRange(FruDevice& device, int32_t fruId, size_t start, size_t end, uint8_t* image, FruReadErrors errors,
                  FruReadSizes sizes) {
  FillBytes(image + start, 0, end - start);
  const bool printErrors = errors == FruReadErrors::Print;
  const ChunkWalk walk{device, fruId, image, nullptr, nullptr, nullptr, printErrors, false};
  bool read = end > start;
  size_t from = start;
  size_t chunkLimit = FRU_CHUNK_MAX;
  if (read && sizes == FruReadSizes::Growing && ReadGrowthMax(device) > FRU_CHUNK_MAX && end - start > FRU_CHUNK_MAX) {
    read = WalkChunks(FRU_READ, walk, start, start + FRU_CHUNK_MAX);  // the 32 bytes larger reads must repeat
    if (read) from = GrowReads(walk, start, end, &chunkLimit);
  }
  if (read && WalkChunks(FRU_READ, walk, from, end, chunkLimit)) return true;
  if (printErrors) Print("[ERROR] Read FRU error\n");
  return false;
}

bool ReadFruImage(FruDevice& device, int32_t fruId, uint16_t size, uint8_t* image, FruReadErrors errors,
                  FruReadSizes sizes) {
  return ReadFruRange(device, fruId, 0, size, image, errors, sizes);
}

bool WriteFruRange(FruDevice& device, int32_t fruId, size_t start, size_t end, const uint8_t* bytes,
                   const uint8_t* unchanged, const FruChunkLog* log, bool interruptible) {
  if (end <= start) return false;
  const ChunkWalk walk{device, fruId, nullptr, bytes, unchanged, log, true, interruptible};
  if (!WalkChunks(FRU_WRITE, walk, start, end)) return false;
  return device.ops->Flush(device.ops->context);
}
