#include "bmc/fru_update.h"

#include "bmc/fru_store_order.h"
#include "bmc/fru_store_proof.h"
#include "platform/platform.h"
#include "runtime/print.h"
#include "runtime/text.h"

namespace {

void SetBits(uint8_t* bits, size_t offset, size_t count) {
  for (size_t i = offset; i < offset + count && i < FRU_OFFSET_COUNT; ++i) {
    bits[i / 8] = static_cast<uint8_t>(bits[i / 8] | 1u << (i % 8));
  }
}

// What a write or a restore hears of its chunks: the offsets sent (when
// touched is given) and where the last chunk sent ended.
struct Sending {
  FruTouched* touched;
  size_t lastEnd;
};

void MarkSent(void* context, size_t offset, size_t count) {
  Sending& sending = *static_cast<Sending*>(context);
  if (sending.touched != nullptr) SetBits(sending.touched->bits, offset, count);
  sending.lastEnd = offset + count;
}

void MarkTaken(void* context, size_t offset, size_t count) {
  Sending& sending = *static_cast<Sending*>(context);
  if (sending.touched != nullptr) SetBits(sending.touched->accepted, offset, count);
}

FruChunkLog Marking(Sending* sending) { return FruChunkLog{MarkSent, MarkTaken, sending}; }

// Whether a chunk's offsets are marked in bits (one per offset).
bool AnyBit(const uint8_t* bits, size_t start, size_t end) {
  for (size_t i = start; i < end && i < FRU_OFFSET_COUNT; ++i) {
    if ((bits[i / 8] >> (i % 8) & 1u) != 0) return true;
  }
  return false;
}

size_t ChunkEnd(size_t chunk, size_t size) {
  const size_t end = (chunk + 1) * FRU_CHUNK_MAX;
  return end < size ? end : size;
}

// Sends the plan's due chunks in the order NextStoreChunk gives, as runs of
// chunks that follow each other (one range each, as a write in offset order
// is one range), and, on a BMC that stores later, ends with the chunk that
// makes it store, holding target's bytes. False when a chunk was given up on
// or a signal stopped the write.
bool SendStoringLast(FruDevice& device, int32_t fruId, FruStorePlan& plan, const uint8_t* unchanged, Sending* sending,
                     bool interruptible) {
  const FruChunkLog log = Marking(sending);
  size_t runStart = 0;
  size_t runEnd = 0;
  size_t chunk = 0;
  while (NextStoreChunk(plan, &chunk)) {
    const size_t start = chunk * FRU_CHUNK_MAX;
    bool follows = runEnd > runStart && start >= runEnd;
    for (size_t c = runEnd / FRU_CHUNK_MAX; follows && c < chunk; ++c) follows = !IsStoreChunk(plan.due, c);
    if (!follows) {
      if (runEnd > runStart &&
          !WriteFruRange(device, fruId, runStart, runEnd, plan.target, unchanged, &log, interruptible)) {
        return false;
      }
      runStart = start;
    }
    runEnd = ChunkEnd(chunk, plan.targetSize);
  }
  // Nothing due: the one range of a write in offset order, which sends nothing and still makes the device flush.
  if (runEnd == 0) runEnd = plan.targetSize;
  if (!WriteFruRange(device, fruId, runStart, runEnd, plan.target, unchanged, &log, interruptible)) return false;
  if (!device.storesLater) return true;
  size_t storingStart = 0;
  size_t storingEnd = 0;
  FruStoringChunk(FruStoreEnd(plan.target, plan.targetSize), plan.targetSize, &storingStart, &storingEnd);
  if (sending->lastEnd == storingEnd) return true;
  return WriteFruRange(device, fruId, storingStart, storingEnd, plan.target, nullptr, &log, interruptible);
}

void ClearPlan(FruStorePlan* plan) {
  FillBytes(plan->due, 0, sizeof(plan->due));
  FillBytes(plan->sent, 0, sizeof(plan->sent));
}

enum class Check { Same, Differs, Unreadable };

// Reads back every touched run below size and compares it with expected;
// *at is the first offset that differs. Untouched bytes were never sent.
Check ReadBackTouched(FruDevice& device, int32_t fruId, const uint8_t* expected, size_t size, uint8_t* readBack,
                      const FruTouched& touched, size_t* at, FruReadErrors errors) {
  Check check = Check::Same;
  ForEachTouchedRun(touched, size, [&](size_t runStart, size_t runEnd) {
    if (!ReadFruRange(device, fruId, runStart, runEnd, readBack, errors)) {
      check = Check::Unreadable;
      return false;
    }
    for (size_t i = runStart; i < runEnd; ++i) {
      if (readBack[i] != expected[i]) {
        *at = i;
        check = Check::Differs;
        return false;
      }
    }
    return true;
  });
  return check;
}

// One write pass: the chunks that differ from what the FRU held at the start
// of the run (or all of them, on the whole-image schedule), in the order that
// keeps a BMC that stores later from storing half an image. Every chunk any
// pass sends stays marked: a later pass that breaks off early does not make
// the bytes an earlier pass wrote any less changed.
bool WritePass(FruDevice& device, int32_t fruId, const uint8_t* bytes, size_t size, const uint8_t* original,
               FruTouched* touched, const FruWriteOptions& options) {
  const uint8_t* unchanged = options.schedule == FruWriteSchedule::ChangedChunks ? original : nullptr;
  const size_t originalSize = options.originalSize != 0 ? options.originalSize : size;
  FruStorePlan plan{bytes, size, original, originalSize, nullptr, nullptr, {}, {}};
  ClearPlan(&plan);
  for (size_t chunk = 0; chunk * FRU_CHUNK_MAX < size; ++chunk) {
    const size_t start = chunk * FRU_CHUNK_MAX;
    const size_t end = ChunkEnd(chunk, size);
    if (unchanged == nullptr || CompareBytes(bytes + start, unchanged + start, end - start) != 0) {
      MarkStoreChunk(plan.due, chunk);
    }
  }
  Sending sending{touched, 0};
  return SendStoringLast(device, fruId, plan, unchanged, &sending, true);
}

// How the wait for a BMC that stores later ended, in the words of a read-back.
bool ProvedStored(FruDevice& device, int32_t fruId, const uint8_t* expected, const uint8_t* before, size_t size,
                  uint8_t* readBack, bool stopOnSignal) {
  size_t at = 0;
  // Once stored, the FRU ends where the image's last area ends: the rebuild's
  // padding after it is not read back by such a BMC, nor part of what it stores.
  const size_t used = FruStoreEnd(expected, size);
  const size_t compared = used > 0 && used < size ? used : size;
  switch (AwaitFruStore(device, fruId, expected, before, compared, readBack, stopOnSignal, &at)) {
    case FruStoreProof::Stored:
      return true;
    case FruStoreProof::Interrupted:
      Print("[ERROR] Interrupted by %s\n", PlatformInterruption());
      return false;
    case FruStoreProof::TimedOut:
      Print("[ERROR] The BMC did not store the FRU within %u s\n", static_cast<unsigned>(FRU_STORE_WAIT_US / 1000000));
      return false;
    case FruStoreProof::Differs:
      break;
  }
  Print("[ERROR] Verify FRU data: offset 0x%x reads 0x%02x, 0x%02x was written\n", static_cast<unsigned>(at),
        readBack[at], expected[at]);
  Print("[ERROR] The FRU may now hold a mix of old and new data\n");
  return false;
}

// The restore's chunks on a BMC that stores later: every chunk the change
// touched, in the order that keeps its stores whole, ending with the
// original's own storing chunk.
void RestoreStoringLast(FruDevice& device, int32_t fruId, const uint8_t* original, const uint8_t* bytes, size_t size,
                        size_t originalSize, const FruTouched& touched) {
  FruStorePlan plan{original, size, original, originalSize, touched.bits, bytes, {}, {}};
  ClearPlan(&plan);
  for (size_t chunk = 0; chunk * FRU_CHUNK_MAX < size; ++chunk) {
    if (AnyBit(touched.bits, chunk * FRU_CHUNK_MAX, ChunkEnd(chunk, size))) MarkStoreChunk(plan.due, chunk);
  }
  // The original's last area may end past the write's size (an edit that shrank the FRU).
  plan.targetSize = originalSize;
  Sending sending{nullptr, 0};
  SendStoringLast(device, fruId, plan, nullptr, &sending, false);  // the read-back below decides
}

// Puts back what the FRU held over every byte the change may have touched. It
// says the original is back only once all of it reads back equal; that is
// checked even when the restore's own write broke off, since a BMC that
// refused the new data may never have stored any of it. On a BMC that stores
// later the original must show as stored, as a write's new image must.
FruWriteOutcome Restore(FruDevice& device, int32_t fruId, const uint8_t* original, const uint8_t* bytes, size_t size,
                        size_t originalSize, uint8_t* readBack, const FruTouched& touched) {
  if (CountTouched(touched, size) == 0) return FruWriteOutcome::Restored;  // nothing was sent
  PlatformRestartBmcWaits();
  Print("Restore FRU data %d bytes\n", static_cast<int>(CountTouched(touched, size)));
  if (device.storesLater) {
    RestoreStoringLast(device, fruId, original, bytes, size, originalSize, touched);
  } else {
    ForEachTouchedRun(touched, size, [&](size_t runStart, size_t runEnd) {
      WriteFruRange(device, fruId, runStart, runEnd, original, nullptr, nullptr);  // the read-back below decides
      return true;
    });
    // A BMC that showed only now that it stores later needs the chunk that makes it store.
    if (device.storesLater) {
      size_t storingStart = 0;
      size_t storingEnd = 0;
      FruStoringChunk(FruStoreEnd(original, originalSize), originalSize, &storingStart, &storingEnd);
      WriteFruRange(device, fruId, storingStart, storingEnd, original, nullptr, nullptr);
    }
  }
  size_t at = 0;
  const bool back = device.storesLater
                        ? ProvedStored(device, fruId, original, bytes, size, readBack, false)
                        : ReadBackTouched(device, fruId, original, size, readBack, touched, &at, FruReadErrors::Print) ==
                              Check::Same;
  if (back) {
    Print("[ERROR] The write failed; the FRU holds its original data again\n");
    return FruWriteOutcome::Restored;
  }
  Print("[ERROR] The write failed and the FRU could not be restored: it may hold part of the new data\n");
  return FruWriteOutcome::Unsettled;
}

// A signal that arrived since the write began stops it: said once, then undone.
bool Interrupted() {
  const char* signal = PlatformInterruption();
  if (signal == nullptr) return false;
  Print("[ERROR] Interrupted by %s\n", signal);
  return true;
}

}  // namespace

FruWriteOutcome UpdateFruData(FruDevice& device, int32_t fruId, const uint8_t* bytes, size_t size,
                              const uint8_t* original, uint8_t* readBack, FruTouched* touched,
                              const FruWriteOptions& options) {
  ClearTouched(touched);
  device.storeRefused = false;
  const size_t originalSize = options.originalSize != 0 ? options.originalSize : size;
  for (int pass = 1; pass <= 2; ++pass) {
    const bool sent = WritePass(device, fruId, bytes, size, original, touched, options);
    if (!sent) {
      Interrupted();  // a pass cut short by a signal printed no chunk error: this says why
      return Restore(device, fruId, original, bytes, size, originalSize, readBack, *touched);
    }
    // What such a BMC's reads show before it stores is its cache: only the stored image counts.
    if (device.storesLater) {
      return ProvedStored(device, fruId, bytes, original, size, readBack, true) ? FruWriteOutcome::Written
                                                                                 : FruWriteOutcome::Unsettled;
    }
    size_t at = 0;
    // The first read-back is quiet: a run that writes again and then succeeds shows no "[ERROR]".
    Check check = ReadBackTouched(device, fruId, bytes, size, readBack, *touched, &at,
                                  pass == 1 ? FruReadErrors::Quiet : FruReadErrors::Print);
    // A signal during the read-back still means "stop": the operator gets the FRU as it was.
    if (Interrupted()) return Restore(device, fruId, original, bytes, size, originalSize, readBack, *touched);
    if (check == Check::Same) return FruWriteOutcome::Written;
    if (pass == 1) {
      if (check == Check::Unreadable) Print("Verify FRU data: reading back failed; writing again\n");
      continue;
    }
    if (check == Check::Unreadable) {
      Print("[ERROR] Verify FRU data: the written data could not be read back\n");
    } else {
      Print("[ERROR] Verify FRU data: offset 0x%x reads 0x%02x, 0x%02x was written\n", static_cast<unsigned>(at),
            readBack[at], bytes[at]);
      Print("[ERROR] The FRU may now hold a mix of old and new data\n");
    }
  }
  return FruWriteOutcome::Unsettled;
}

FruWriteOutcome ClearFruData(FruDevice& device, int32_t fruId, uint16_t size, const uint8_t* original,
                             uint8_t* readBack, uint8_t* zeros, FruTouched* touched,
                             const FruWriteOptions& options) {
  Print("Clear FRU data...\n");
  FillBytes(zeros, 0, size);
  FruWriteOptions clearing = options;
  clearing.originalSize = size;
  FruWriteOutcome outcome =
      size > 0 ? UpdateFruData(device, fruId, zeros, size, original, readBack, touched, clearing)
               : FruWriteOutcome::Restored;
  // A zeroed Common Header does not parse: a BMC that checks the FRU before it stores refuses every clear.
  if (outcome != FruWriteOutcome::Written && device.storeRefused) {
    Print("[ERROR] This BMC stores only FRU data it can parse: a cleared FRU cannot be stored on it\n");
  }
  Print(outcome == FruWriteOutcome::Written ? "done.\n" : "error.\n");
  return outcome;
}

FruWritePlan PlanFruWrite(const uint8_t* bytes, size_t size, const uint8_t* original,
                          const FruWriteOptions& options) {
  FruWritePlan plan{0, 0};
  for (size_t offset = 0; offset < size; offset += FRU_CHUNK_MAX) {
    const size_t chunk = size - offset < FRU_CHUNK_MAX ? size - offset : FRU_CHUNK_MAX;
    if (options.schedule == FruWriteSchedule::ChangedChunks &&
        CompareBytes(bytes + offset, original + offset, chunk) == 0) {
      continue;
    }
    plan.bytes += chunk;
    ++plan.chunks;
  }
  return plan;
}

bool PutBackFruData(FruDevice& device, int32_t fruId, const uint8_t* original, const uint8_t* current, size_t size, uint8_t* readBack,
                    FruTouched* touched) {
  ClearTouched(touched);
  // What a killed run left may have moved areas: the same order as a write keeps the put-back's stores whole.
  FruStorePlan plan{original, size, current, size, nullptr, nullptr, {}, {}};
  ClearPlan(&plan);
  for (size_t chunk = 0; chunk * FRU_CHUNK_MAX < size; ++chunk) {
    const size_t start = chunk * FRU_CHUNK_MAX;
    if (CompareBytes(original + start, current + start, ChunkEnd(chunk, size) - start) != 0) MarkStoreChunk(plan.due, chunk);
  }
  Sending sending{touched, 0};
  SendStoringLast(device, fruId, plan, current, &sending, false);  // the read-back below decides
  if (device.storesLater) return ProvedStored(device, fruId, original, current, size, readBack, false);
  size_t at = 0;
  return ReadBackTouched(device, fruId, original, size, readBack, *touched, &at, FruReadErrors::Print) == Check::Same;
}

bool StoreWhatTheFruShows(FruDevice& device, int32_t fruId, const uint8_t* image, const uint8_t* before, size_t size,
                          uint8_t* readBack) {
  size_t storingStart = 0;
  size_t storingEnd = 0;
  FruStoringChunk(FruStoreEnd(image, size), size, &storingStart, &storingEnd);
  if (!WriteFruRange(device, fruId, storingStart, storingEnd, image, nullptr, nullptr)) return false;
  return !device.storesLater || ProvedStored(device, fruId, image, before, size, readBack, false);
}

void ClearTouched(FruTouched* touched) {
  FillBytes(touched->bits, 0, sizeof(touched->bits));
  FillBytes(touched->accepted, 0, sizeof(touched->accepted));
}

size_t CountAccepted(const FruTouched& touched, size_t end) {
  size_t count = 0;
  for (size_t i = 0; i < end && i < FRU_OFFSET_COUNT; ++i) count += touched.accepted[i / 8] >> (i % 8) & 1u;
  return count;
}

size_t CountTouched(const FruTouched& touched, size_t end) {
  size_t count = 0;
  for (size_t i = 0; i < end; ++i) count += IsTouched(touched, i) ? 1 : 0;
  return count;
}

bool IsTouched(const FruTouched& touched, size_t offset) {
  return offset < FRU_OFFSET_COUNT && (touched.bits[offset / 8] >> (offset % 8) & 1u) != 0;
}

bool NextTouchedRun(const FruTouched& touched, size_t from, size_t end, size_t* runStart, size_t* runEnd) {
  size_t at = from;
  while (at < end && !IsTouched(touched, at)) ++at;
  if (at >= end) return false;
  *runStart = at;
  while (at < end && IsTouched(touched, at)) ++at;
  *runEnd = at;
  return true;
}
