#include "bmc/fru_store_proof.h"

#include "platform/platform.h"
#include "runtime/print.h"
#include "runtime/text.h"
#include "runtime/verbose.h"

namespace {

enum class Look { NotYet, Same, Differs };

size_t Smaller(size_t a, size_t b) { return a < b ? a : b; }

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
              uint8_t* readBack, size_t* at) {
  const size_t probe = ProbeStart(expected, before, size);
  const size_t probeEnd = Smaller(probe + FRU_CHUNK_MAX, size);
  if (!ReadFruRange(device, fruId, probe, probeEnd, readBack, FruReadErrors::Quiet)) return Look::NotYet;
  const bool changed = CompareBytes(readBack + probe, before + probe, probeEnd - probe) != 0;
  if (!changed && CompareBytes(expected + probe, before + probe, probeEnd - probe) != 0) return Look::NotYet;
  if (!ReadFruRange(device, fruId, 0, size, readBack, FruReadErrors::Quiet)) return Look::NotYet;
  *at = FirstDifference(readBack, expected, size);
  if (*at == size) return Look::Same;
  return FirstDifference(readBack, before, size) == size ? Look::NotYet : Look::Differs;
}

}  // namespace

FruStoreProof AwaitFruStore(FruDevice& device, int32_t fruId, const uint8_t* expected, const uint8_t* before,
                            size_t size, uint8_t* readBack, bool stopOnSignal, size_t* at) {
  for (uint32_t waited = 0, looks = 1;; waited += FRU_STORE_POLL_US, ++looks) {
    if (stopOnSignal && PlatformInterruption() != nullptr) return FruStoreProof::Interrupted;
    switch (LookOnce(device, fruId, expected, before, size, readBack, at)) {
      case Look::Same:
        if (gVerbose) {
          Print("The BMC stores FRU data later: its store showed after %u ms of waiting (%u looks)\n",
                static_cast<unsigned>(waited / 1000), static_cast<unsigned>(looks));
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
