// The run arena: a bump allocator over one fixed block. Nothing is freed
// before the run ends; a request that does not fit returns null and marks the
// arena exhausted, so callers can end the run with a message instead of
// writing past the block.
#pragma once

#include <stddef.h>

constexpr size_t RUNTIME_ARENA_SIZE = 1024 * 1024;

void* ArenaAlloc(size_t size);
bool ArenaExhausted();
// Starts a new run with an empty arena (the host tests run several in one process).
void ArenaReset();
