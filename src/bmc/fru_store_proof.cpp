#include "bmc/fru_store_proof.h"

#include "platform/platform.h"
#include "runtime/print.h"
#include "runtime/text.h"
#include "runtime/verbose.h"

namespace {

enum class Look { NotYet, Same, Differs };

size_t Smaller(size_t a, size_t b) { return a < b ? a : b; }

// One attempt per request: a BMC that is rescanning answers again at the next poll, not the next millisecond.
bool ReadOnce(FruDevice& device, int32_t fruId, size_t start, size_t end, uint8_t* into, uint32_t* reads) {
  const PlatformFruDevice& ops = *device.ops;
  for (size_t offset = start; offset < end;) {
    ++*reads;
    const PlatformFruTransfer done =
        ops.Read(ops.context, fruId, offset, Smaller(end - offset, FRU_CHUNK_MAX), into + offset);
    if (done.outcome != PlatformFruOutcome::Done || done.count == 0) return false;
    offset += done.count;
  }
  return true;
}

// The first chunk in which the store shows: one that differs from before.
size_t ProbeStart(const uint8_t* expected, const uint8_t* before, size_t size) {
  for (size_t offset = 0; offset < size; offset += FRU_CHUNK_MAX) {
    if (CompareBytes(expected + offset, before + offset, Smaller(size - offset, FRU_CHUNK_MAX)) != 0) return offset;
  }
  return 0;
}

size_t FirstDifference(const uint8_t* a, const uint8_t* b, size_t size) {
  size_t at = 0;
  while (at < size && a[at] == b[at]) ++at;
  return at;
}

// A probe of one chunk first: most polls see the old image there and need no more.
Look LookOnce(FruDevice& device, int32_t fruId, const uint8_t* expected, const uint8_t* before, size_t size,
              uint8_t* readBack, uint32_t* reads, size_t* at) {
  const size_t probe = ProbeStart(expected, before, size);
  const size_t probeEnd = Smaller(probe + FRU_CHUNK_MAX, size);
  if (!ReadOnce(device, fruId, probe, probeEnd, readBack, reads)) return Look::NotYet;
  const bool changed = CompareBytes(readBack + probe, before + probe, probeEnd - probe) != 0;
  if (!changed && CompareBytes(expected + probe, before + probe, probeEnd - probe) != 0) return Look::NotYet;
  if (!ReadOnce(device, fruId, 0, size, readBack, reads)) return Look::NotYet;
  *at = FirstDifference(readBack, expected, size);
  if (*at == size) return Look::Same;
  return FirstDifference(readBack, before, size) == size ? Look::NotYet : Look::Differs;
}

}  // namespace

FruStoreProof AwaitFruStore(FruDevice& device, int32_t fruId, const uint8_t* expected, const uint8_t* before,
                            size_t size, uint8_t* readBack, bool stopOnSignal, size_t* at) {
  uint32_t reads = 0;
  for (uint32_t waited = 0;; waited += FRU_STORE_POLL_US) {
    if (stopOnSignal && PlatformInterruption() != nullptr) return FruStoreProof::Interrupted;
    switch (LookOnce(device, fruId, expected, before, size, readBack, &reads, at)) {
      case Look::Same:
        if (gVerbose) {
          Print("The BMC stores FRU data later: its store showed after %u ms of waiting and %u reads\n",
                static_cast<unsigned>(waited / 1000), static_cast<unsigned>(reads));
        }
        return FruStoreProof::Stored;
      case Look::Differs:
        return FruStoreProof::Differs;
      case Look::NotYet:
        break;
    }
    if (waited >= FRU_STORE_WAIT_US) return FruStoreProof::TimedOut;
    PlatformStall(FRU_STORE_POLL_US);
  }
}
