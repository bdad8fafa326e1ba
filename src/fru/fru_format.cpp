#include "fru/fru_format.h"

#include "runtime/text.h"

constexpr FruLayout FruAreaLayout[FRU_AREA_COUNT] = {
    {{{0, 0}, {0, 0}, {0, 0}}},            // internal use: not an info area
    {{{2, 1}, {3, 0xC3}, {0, 0}}},         // chassis: type; fields from 3; written up to entry 3
    {{{2, 1}, {3, 3}, {6, 0xC6}}},         // board: language, date/time; fields from 6; up to 6
    {{{2, 1}, {3, 0xC7}, {0, 0}}},         // product: language; fields from 3; up to 7
    {{{0, 0}, {0, 0}, {0, 0}}},            // multirecord: not an info area
};

namespace {

constexpr uint8_t FRU_EMPTY_CHASSIS[] = {0x01, 0x01, 0x01, 0xC0, 0xC0, 0xC1, 0x00, 0xBC};
constexpr uint8_t FRU_EMPTY_BOARD[] = {0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xC0,
                                   0xC0, 0xC0, 0x00, 0xC1, 0x00, 0x00, 0x00, 0x3C};
constexpr uint8_t FRU_EMPTY_PRODUCT[] = {0x01, 0x02, 0x00, 0xC0, 0xC0, 0xC0, 0xC0, 0xC0,
                                     0xC0, 0x00, 0xC1, 0x00, 0x00, 0x00, 0x00, 0xBC};

constexpr uint8_t ByteSum(const uint8_t* bytes, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum;
}
static_assert(ByteSum(FRU_EMPTY_CHASSIS, sizeof(FRU_EMPTY_CHASSIS)) == 0, "empty chassis area checksum");
static_assert(ByteSum(FRU_EMPTY_BOARD, sizeof(FRU_EMPTY_BOARD)) == 0, "empty board area checksum");
static_assert(ByteSum(FRU_EMPTY_PRODUCT, sizeof(FRU_EMPTY_PRODUCT)) == 0, "empty product area checksum");

bool IsLastPair(const FruLayoutPair& pair) { return (pair.second & FRU_TYPE_MASK) == FRU_TYPE_MASK; }

bool IsAcceptedRecordType(uint8_t type) { return type <= 0x0A || type >= 0xC0; }

}  // namespace

bool IsInfoArea(uint8_t area) { return area >= FRU_AREA_CHASSIS && area <= FRU_AREA_PRODUCT; }

FruLayoutInfo GetFruLayoutInfo(uint8_t area) {
  const FruLayout& layout = FruAreaLayout[area];
  int k = 0;
  while (!IsLastPair(layout.pairs[k])) ++k;
  return FruLayoutInfo{k, layout.pairs[k].first, layout.pairs[k].second & FRU_LENGTH_MASK};
}

bool IsFixedField(uint8_t area, uint8_t entry) {
  return IsInfoArea(area) && entry < GetFruLayoutInfo(area).fixedCount;
}

FruEmptyArea GetFruEmptyArea(uint8_t area) {
  switch (area) {
    case FRU_AREA_CHASSIS:
      return FruEmptyArea{FRU_EMPTY_CHASSIS, sizeof(FRU_EMPTY_CHASSIS)};
    case FRU_AREA_BOARD:
      return FruEmptyArea{FRU_EMPTY_BOARD, sizeof(FRU_EMPTY_BOARD)};
    case FRU_AREA_PRODUCT:
      return FruEmptyArea{FRU_EMPTY_PRODUCT, sizeof(FRU_EMPTY_PRODUCT)};
    default:
      return FruEmptyArea{nullptr, 0};
  }
}

uint8_t FruChecksum(const uint8_t* bytes, uint16_t count) {
  return static_cast<uint8_t>(0 - ByteSum(bytes, count));
}

bool IsCommonHeaderValid(const uint8_t* image) {
  return image[FRU_HEADER_VERSION] == FRU_FORMAT_VERSION && ByteSum(image, FRU_HEADER_SIZE) == 0;
}

bool HoldsFruDataOrBlank(const uint8_t* image, size_t size) {
  if (size >= FRU_HEADER_SIZE && IsCommonHeaderValid(image)) return true;
  bool zeros = true;
  bool ones = true;
  for (size_t i = 0; i < size; ++i) {
    zeros = zeros && image[i] == 0x00;
    ones = ones && image[i] == 0xFF;
  }
  return zeros || ones;
}

void RebuildCommonHeader(uint8_t* image, size_t size) {
  FillBytes(image, 0, size < FRU_HEADER_SIZE ? FRU_HEADER_SIZE : size);
  image[FRU_HEADER_VERSION] = FRU_FORMAT_VERSION;
  image[FRU_HEADER_CHECKSUM] = FruChecksum(image, FRU_HEADER_CHECKSUM);
}

size_t FruAreaStart(const uint8_t* image, uint8_t area) {
  return static_cast<size_t>(image[FRU_HEADER_FIRST_OFFSET + area]) * FRU_UNIT;
}

bool GetInternalUseSize(const uint8_t* image, size_t* size) {
  uint8_t internalUse = image[FRU_HEADER_FIRST_OFFSET + FRU_AREA_INTERNAL_USE];
  uint8_t chassis = image[FRU_HEADER_FIRST_OFFSET + FRU_AREA_CHASSIS];
  if (internalUse == 0 || chassis == 0 || chassis <= internalUse) {
    *size = 0;
    return true;
  }
  *size = static_cast<size_t>(chassis - internalUse) * FRU_UNIT;
  return false;
}

bool GetMultiRecordSize(const uint8_t* image, size_t imageSize, size_t start, size_t* size) {
  *size = 0;
  size_t record = start;
  for (;;) {
    if (record > imageSize || imageSize - record < FRU_RECORD_HEADER_SIZE) return true;
    const uint8_t* header = image + record;
    uint8_t format = header[FRU_RECORD_FORMAT];
    if (!IsAcceptedRecordType(header[FRU_RECORD_TYPE])) return true;
    if ((format & FRU_RECORD_RESERVED_MASK) != 0 || (format & FRU_RECORD_VERSION_MASK) != FRU_RECORD_VERSION) {
      return true;
    }
    size_t next = record + FRU_RECORD_HEADER_SIZE + header[FRU_RECORD_LENGTH];
    if (next > imageSize) return true;
    record = next;
    if ((format & FRU_RECORD_END_OF_LIST) != 0) break;
  }
  *size = record - start;
  return false;
}

bool LocateInfoArea(const uint8_t* image, size_t imageSize, uint8_t area, FruInfoArea* located) {
  size_t start = FruAreaStart(image, area);
  if (start == 0) return false;
  located->start = start;
  located->readable = start < imageSize ? imageSize - start : 0;
  located->damaged = true;
  if (located->readable > FRU_AREA_LENGTH) {
    size_t length = static_cast<size_t>(image[start + FRU_AREA_LENGTH]) * FRU_UNIT;
    if (length != 0 && length <= located->readable) {
      located->readable = length;
      located->damaged = false;
    }
  }
  located->fieldsEnd = located->damaged ? located->readable : FruSoundAreaFieldsEnd(located->readable);
  return true;
}
