#include "runtime/arena.h"

#include <stdint.h>

namespace {

alignas(16) unsigned char gArenaBlock[RUNTIME_ARENA_SIZE];
size_t gArenaUsed = 0;
bool gArenaExhausted = false;

constexpr size_t ARENA_ALIGNMENT = 16;

}  // namespace

void* ArenaAlloc(size_t size) {
  size_t start = (gArenaUsed + ARENA_ALIGNMENT - 1) & ~(ARENA_ALIGNMENT - 1);
  if (start > RUNTIME_ARENA_SIZE || size > RUNTIME_ARENA_SIZE - start) {
    gArenaExhausted = true;
    return nullptr;
  }
  gArenaUsed = start + size;
  return gArenaBlock + start;
}

bool ArenaExhausted() { return gArenaExhausted; }

void ArenaReset() {
  gArenaUsed = 0;
  gArenaExhausted = false;
}
