#include "bmc/fru_store_order.h"

namespace {

// The Common Header and the areas as such a BMC reads them.
constexpr size_t STORE_HEADER_SIZE = 8;
constexpr size_t STORE_HEADER_VERSION = 0;
constexpr uint8_t STORE_FORMAT_VERSION = 1;
constexpr size_t STORE_FIRST_OFFSET = 1;
constexpr size_t STORE_MULTIRECORD_OFFSET = 5;
constexpr size_t STORE_UNIT = 8;
constexpr size_t STORE_AREA_LENGTH = 1;
constexpr size_t STORE_RECORD_HEADER_SIZE = 5;
constexpr size_t STORE_RECORD_FORMAT = 1;
constexpr size_t STORE_RECORD_LENGTH = 2;
constexpr uint8_t STORE_RECORD_END_OF_LIST = 0x80;

struct Image {
  const uint8_t* bytes;
  uint8_t At(size_t i) const { return bytes[i]; }
};

// The cache as it reads with the chunks handed out so far.
struct Cache {
  const FruStorePlan& plan;
  size_t Size() const { return plan.targetSize > plan.baseSize ? plan.targetSize : plan.baseSize; }
  uint8_t At(size_t i) const {
    if (i < plan.targetSize && IsStoreChunk(plan.sent, i / FRU_CHUNK_MAX)) return plan.target[i];
    if (plan.changed != nullptr && i < plan.targetSize && (plan.changed[i / 8] >> (i % 8) & 1u) != 0) {
      return plan.changedBytes[i];
    }
    return i < plan.baseSize ? plan.base[i] : 0xFF;
  }
};

template <typename Bytes>
size_t StoreEnd(const Bytes& image, size_t size) {
  if (size < STORE_HEADER_SIZE || image.At(STORE_HEADER_VERSION) != STORE_FORMAT_VERSION) return 0;
  uint8_t sum = 0;
  size_t last = 0;
  for (size_t i = 0; i < STORE_HEADER_SIZE; ++i) sum = static_cast<uint8_t>(sum + image.At(i));
  if (sum != 0) return 0;
  for (size_t i = STORE_FIRST_OFFSET; i <= STORE_MULTIRECORD_OFFSET; ++i) {
    if (image.At(i) > last) last = image.At(i);
  }
  const size_t start = last * STORE_UNIT;
  if (image.At(STORE_MULTIRECORD_OFFSET) == 0) {
    return start + STORE_AREA_LENGTH < size ? start + image.At(start + STORE_AREA_LENGTH) * STORE_UNIT : size;
  }
  for (size_t at = start; at + STORE_RECORD_HEADER_SIZE <= size;) {
    const size_t next = at + STORE_RECORD_HEADER_SIZE + image.At(at + STORE_RECORD_LENGTH);
    if ((image.At(at + STORE_RECORD_FORMAT) & STORE_RECORD_END_OF_LIST) != 0) return next;
    at = next;
  }
  return size;
}

size_t ChunkCount(size_t size) { return (size + FRU_CHUNK_MAX - 1) / FRU_CHUNK_MAX; }

size_t ChunkEnd(size_t chunk, size_t size) {
  return (chunk + 1) * FRU_CHUNK_MAX < size ? (chunk + 1) * FRU_CHUNK_MAX : size;
}

}  // namespace

void MarkStoreChunk(uint8_t* bits, size_t chunk) { bits[chunk / 8] = static_cast<uint8_t>(bits[chunk / 8] | 1u << (chunk % 8)); }

bool IsStoreChunk(const uint8_t* bits, size_t chunk) {
  return chunk < FRU_STORE_CHUNK_COUNT && (bits[chunk / 8] >> (chunk % 8) & 1u) != 0;
}

size_t FruStoreEnd(const uint8_t* image, size_t size) { return StoreEnd(Image{image}, size); }

void FruStoringChunk(size_t storeEnd, size_t size, size_t* start, size_t* end) {
  const size_t last = storeEnd == 0 || storeEnd > size ? size : storeEnd;
  *start = last == 0 ? 0 : (last - 1) / FRU_CHUNK_MAX * FRU_CHUNK_MAX;
  *end = *start + FRU_CHUNK_MAX < size ? *start + FRU_CHUNK_MAX : size;
}

namespace {

void UnmarkStoreChunk(uint8_t* bits, size_t chunk) { bits[chunk / 8] = static_cast<uint8_t>(bits[chunk / 8] & ~(1u << (chunk % 8))); }

// What one step of the order looks at: the target's storing chunk and end.
struct Step {
  size_t count;      // chunks below the target's size
  size_t targetEnd;  // 0: the target has no end to keep clear of
  size_t storing;
};

Step StepOf(const FruStorePlan& plan) {
  Step step{ChunkCount(plan.targetSize), FruStoreEnd(plan.target, plan.targetSize), 0};
  size_t start = 0;
  size_t end = 0;
  FruStoringChunk(step.targetEnd, plan.targetSize, &start, &end);
  step.storing = start / FRU_CHUNK_MAX;
  return step;
}

size_t Left(const FruStorePlan& plan, const Step& step) {
  size_t left = 0;
  for (size_t c = 0; c < step.count; ++c) left += IsStoreChunk(plan.due, c) && !IsStoreChunk(plan.sent, c) ? 1 : 0;
  return left;
}

// Whether the cache, with chunk c in it as well, still ends beyond c.
bool Safe(FruStorePlan& plan, const Step& step, size_t c) {
  if (c == step.storing || step.targetEnd == 0) return true;
  MarkStoreChunk(plan.sent, c);
  const Cache cache{plan};
  const bool safe = ChunkEnd(c, plan.targetSize) < StoreEnd(cache, cache.Size());
  UnmarkStoreChunk(plan.sent, c);
  return safe;
}

// The lowest due chunk from from on that is safe now (step.count when none
// is), the storing chunk only as the last one left; *lowest: the lowest due one.
size_t LowestSafe(FruStorePlan& plan, const Step& step, size_t from, size_t* lowest) {
  const size_t left = Left(plan, step);
  *lowest = step.count;
  for (size_t c = from; c < step.count; ++c) {
    if (!IsStoreChunk(plan.due, c) || IsStoreChunk(plan.sent, c) || (c == step.storing && left > 1)) continue;
    if (*lowest == step.count) *lowest = c;
    if (Safe(plan, step, c)) return c;
  }
  return step.count;
}

// Whether the lowest safe chunk, step after step, sends every chunk left.
bool FinishesWhole(FruStorePlan plan, const Step& step) {
  size_t lowest = 0;
  for (size_t left = Left(plan, step); left > 0; --left) {
    const size_t c = LowestSafe(plan, step, 0, &lowest);
    if (c == step.count) return false;
    MarkStoreChunk(plan.sent, c);
  }
  return true;
}

}  // namespace

// A chunk that is safe now can still leave the rest no safe order (the Common
// Header sent before the chunk that holds the moved last area's length): the
// lowest one after which the rest can go in a safe order is taken.
bool NextStoreChunk(FruStorePlan& plan, size_t* chunk) {
  const Step step = StepOf(plan);
  size_t lowest = step.count;
  size_t firstSafe = step.count;
  for (size_t from = 0;;) {
    size_t lowestFrom = step.count;
    const size_t c = LowestSafe(plan, step, from, &lowestFrom);
    if (from == 0) {
      lowest = lowestFrom;
      firstSafe = c;
    }
    if (c == step.count) break;
    MarkStoreChunk(plan.sent, c);
    if (step.targetEnd == 0 || FinishesWhole(plan, step)) {
      *chunk = c;
      return true;
    }
    UnmarkStoreChunk(plan.sent, c);
    from = c + 1;
  }
  const size_t pick = firstSafe != step.count ? firstSafe : lowest;
  if (pick == step.count) return false;
  MarkStoreChunk(plan.sent, pick);
  *chunk = pick;
  return true;
}
