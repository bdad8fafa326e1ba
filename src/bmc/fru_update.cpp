#include "bmc/fru_update.h"

#include "platform/platform.h"
#include "runtime/print.h"
#include "runtime/text.h"

namespace {

void SetBits(uint8_t* bits, size_t offset, size_t count) {
  for (size_t i = offset; i < offset + count && i < FRU_OFFSET_COUNT; ++i) {
    bits[i / 8] = static_cast<uint8_t>(bits[i / 8] | 1u << (i % 8));
  }
}

void MarkSent(void* context, size_t offset, size_t count) {
  SetBits(static_cast<FruTouched*>(context)->bits, offset, count);
}

void MarkTaken(void* context, size_t offset, size_t count) {
  SetBits(static_cast<FruTouched*>(context)->accepted, offset, count);
}

FruChunkLog Marking(FruTouched* touched) { return FruChunkLog{MarkSent, MarkTaken, touched}; }

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
// of the run (or all of them, on the whole-image schedule). Every chunk any
// pass sends stays marked: a later pass that breaks off early does not make
// the bytes an earlier pass wrote any less changed.
bool WritePass(FruDevice& device, int32_t fruId, const uint8_t* bytes, size_t size, const uint8_t* original,
               FruTouched* touched, const FruWriteOptions& options) {
  const uint8_t* unchanged = options.schedule == FruWriteSchedule::ChangedChunks ? original : nullptr;
  const FruChunkLog log = Marking(touched);
  return WriteFruRange(device, fruId, 0, size, bytes, unchanged, &log, true);
}

// Puts back what the FRU held over every byte the change may have touched. It
// says the original is back only once all of it reads back equal; that is
// checked even when the restore's own write broke off, since a BMC that
// refused the new data may never have stored any of it.
FruWriteOutcome Restore(FruDevice& device, int32_t fruId, const uint8_t* original, size_t size, uint8_t* readBack,
                        const FruTouched& touched) {
  if (CountTouched(touched, size) == 0) return FruWriteOutcome::Restored;  // nothing was sent
  PlatformRestartBmcWaits();
  Print("Restore FRU data %d bytes\n", static_cast<int>(CountTouched(touched, size)));
  ForEachTouchedRun(touched, size, [&](size_t runStart, size_t runEnd) {
    WriteFruRange(device, fruId, runStart, runEnd, original, nullptr, nullptr);  // the read-back below decides
    return true;
  });
  size_t at = 0;
  if (ReadBackTouched(device, fruId, original, size, readBack, touched, &at, FruReadErrors::Print) == Check::Same) {
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
  for (int pass = 1; pass <= 2; ++pass) {
    const bool sent = WritePass(device, fruId, bytes, size, original, touched, options);
    if (!sent) {
      Interrupted();  // a pass cut short by a signal printed no chunk error: this says why
      return Restore(device, fruId, original, size, readBack, *touched);
    }
    size_t at = 0;
    // The first read-back is quiet: a run that writes again and then succeeds shows no "[ERROR]".
    Check check = ReadBackTouched(device, fruId, bytes, size, readBack, *touched, &at,
                                  pass == 1 ? FruReadErrors::Quiet : FruReadErrors::Print);
    // A signal during the read-back still means "stop": the operator gets the FRU as it was.
    if (Interrupted()) return Restore(device, fruId, original, size, readBack, *touched);
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
  FruWriteOutcome outcome =
      size > 0 ? UpdateFruData(device, fruId, zeros, size, original, readBack, touched, options)
               : FruWriteOutcome::Restored;
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
  const FruChunkLog log = Marking(touched);
  WriteFruRange(device, fruId, 0, size, original, current, &log);  // the read-back below decides
  size_t at = 0;
  return ReadBackTouched(device, fruId, original, size, readBack, *touched, &at, FruReadErrors::Print) == Check::Same;
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
