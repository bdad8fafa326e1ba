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

bool NextStoreChunk(FruStorePlan& plan, size_t* chunk) {
  const size_t count = ChunkCount(plan.targetSize);
  const size_t targetEnd = FruStoreEnd(plan.target, plan.targetSize);
  size_t storingStart = 0;
  size_t storingEnd = 0;
  FruStoringChunk(targetEnd, plan.targetSize, &storingStart, &storingEnd);
  const size_t storing = storingStart / FRU_CHUNK_MAX;
  size_t fallback = count;
  size_t left = 0;
  for (size_t c = 0; c < count; ++c) {
    if (IsStoreChunk(plan.due, c) && !IsStoreChunk(plan.sent, c)) ++left;
  }
  for (size_t c = 0; c < count; ++c) {
    if (!IsStoreChunk(plan.due, c) || IsStoreChunk(plan.sent, c)) continue;
    if (c == storing && left > 1) continue;  // the storing chunk goes last
    if (fallback == count) fallback = c;
    if (targetEnd == 0) break;
    // The cache as it would read with this chunk in it: its end must lie beyond the chunk.
    MarkStoreChunk(plan.sent, c);
    const Cache cache{plan};
    const size_t chunkEnd = (c + 1) * FRU_CHUNK_MAX < plan.targetSize ? (c + 1) * FRU_CHUNK_MAX : plan.targetSize;
    const bool safe = c == storing || chunkEnd < StoreEnd(cache, cache.Size());
    plan.sent[c / 8] = static_cast<uint8_t>(plan.sent[c / 8] & ~(1u << (c % 8)));
    if (safe) {
      fallback = c;
      break;
    }
  }
  if (fallback == count) return false;
  MarkStoreChunk(plan.sent, fallback);
  *chunk = fallback;
  return true;
}
