// The wait for a BMC that stores its FRU later. Once the chunk that makes it
// store was sent, its reads show the FRU from before the store for a moment,
// then no FRU at all while its FRU service rescans, then what it stored: only
// that last image proves the write.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "bmc/fru_storage.h"

// The longest wait, counted in the pauses between reads.
constexpr uint32_t FRU_STORE_WAIT_US = 15000000;
constexpr uint32_t FRU_STORE_POLL_US = 100000;

enum class FruStoreProof { Stored, Differs, TimedOut, Interrupted };

// Reads the first size bytes until they equal expected. Reads that fail, and
// reads that show before (what the FRU held before the store), mean "not
// yet"; any other image is a mismatch, its first differing offset in *at.
// readBack is the caller's room of at least size bytes. A signal held by the
// platform ends the wait when stopOnSignal. Says in a verbose line what a
// proven store cost.
FruStoreProof AwaitFruStore(FruDevice& device, int32_t fruId, const uint8_t* expected, const uint8_t* before,
                            size_t size, uint8_t* readBack, bool stopOnSignal, size_t* at);
