#include "fru/fru_entry.h"

#include "fru/fru_format.h"

namespace {

// Steps over count type/length fields from offset; returns the offset
// reached, or 0 when the end marker or the end of the fields came first.
size_t SkipFields(const uint8_t* areaStart, size_t fieldsEnd, size_t offset, int count) {
  for (int i = 0; i < count; ++i) {
    if (offset >= fieldsEnd || areaStart[offset] == FRU_END_OF_FIELDS) return 0;
    offset += 1 + static_cast<size_t>(areaStart[offset] & FRU_LENGTH_MASK);
  }
  return offset;
}

}  // namespace

const uint8_t* GetFruEntry(uint8_t area, int entry, const uint8_t* areaStart, size_t fieldsEnd, int32_t* size,
                           uint8_t* type) {
  if (!IsInfoArea(area) || entry < 0 || entry >= FRU_ENTRY_COUNT) return nullptr;
  FruLayoutInfo layout = GetFruLayoutInfo(area);
  if (entry < layout.fixedCount) {
    const FruLayoutPair& pair = FruAreaLayout[area].pairs[entry];
    if (static_cast<size_t>(pair.first) + pair.second > fieldsEnd) return nullptr;
    *size = pair.second;
    return areaStart + pair.first;
  }
  size_t at = SkipFields(areaStart, fieldsEnd, layout.firstFieldOffset, entry - layout.fixedCount);
  if (at == 0 || at >= fieldsEnd || areaStart[at] == FRU_END_OF_FIELDS) return nullptr;
  size_t length = areaStart[at] & FRU_LENGTH_MASK;
  if (at + 1 + length > fieldsEnd) return nullptr;
  *size = static_cast<int32_t>(length);
  *type = areaStart[at] & FRU_TYPE_MASK;
  return areaStart + at + 1;
}

FruEntryTail GetFruEntryTail(uint8_t area, const uint8_t* areaStart, size_t fieldsEnd) {
  FruLayoutInfo layout = GetFruLayoutInfo(area);
  size_t start = SkipFields(areaStart, fieldsEnd, layout.firstFieldOffset, FRU_ENTRY_COUNT - layout.fixedCount);
  if (start == 0) return FruEntryTail{0, 0};
  size_t end = start;
  while (end < fieldsEnd && areaStart[end] != FRU_END_OF_FIELDS) {
    size_t next = end + 1 + static_cast<size_t>(areaStart[end] & FRU_LENGTH_MASK);
    if (next > fieldsEnd) break;  // a field cut by the end of the fields is not whole
    end = next;
  }
  return FruEntryTail{start, end - start};
}
