#include "fru_image_check.h"

namespace sim {

namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kUnit = 8;
constexpr uint8_t kFormatVersion = 0x01;
constexpr size_t kInternalUseOffset = 1;
constexpr size_t kFirstInfoOffset = 2;  // chassis, board, product
constexpr size_t kInfoAreaCount = 3;
constexpr size_t kMultiRecordOffset = 5;
constexpr size_t kAreaLength = 1;
constexpr size_t kChassisFieldsStart = 3;  // version, length, chassis type
constexpr size_t kBoardFieldsStart = 6;    // version, length, language, three bytes of date
constexpr size_t kProductFieldsStart = 3;  // version, length, language
constexpr uint8_t kEndOfFields = 0xC1;
constexpr uint8_t kFieldLengthMask = 0x3F;
constexpr size_t kRecordHeaderSize = 5;
constexpr size_t kRecordFormat = 1;
constexpr size_t kRecordLength = 2;
constexpr size_t kRecordChecksum = 3;
constexpr uint8_t kEndOfList = 0x80;

uint8_t Sum(const std::vector<uint8_t>& image, size_t start, size_t count) {
  uint8_t sum = 0;
  for (size_t i = start; i < start + count; ++i) sum = static_cast<uint8_t>(sum + image[i]);
  return sum;
}

bool HeaderParses(const std::vector<uint8_t>& image) {
  return image.size() >= kHeaderSize && image[0] == kFormatVersion && Sum(image, 0, kHeaderSize) == 0;
}

// The end of the record list from start, or 0 when it has no sound end inside the image.
size_t RecordsEnd(const std::vector<uint8_t>& image, size_t start, bool checked) {
  for (size_t at = start; at + kRecordHeaderSize <= image.size();) {
    const size_t next = at + kRecordHeaderSize + image[at + kRecordLength];
    if (checked && (Sum(image, at, kRecordHeaderSize) != 0 || next > image.size() ||
                    static_cast<uint8_t>(Sum(image, at + kRecordHeaderSize, next - at - kRecordHeaderSize) +
                                         image[at + kRecordChecksum]) != 0)) {
      return 0;
    }
    if ((image[at + kRecordFormat] & kEndOfList) != 0) return next;
    at = next;
  }
  return 0;
}

bool InfoAreaParses(const std::vector<uint8_t>& image, size_t start, size_t fieldsStart) {
  if (start + kAreaLength >= image.size()) return false;
  const size_t end = start + image[start + kAreaLength] * kUnit;
  if (end <= start || end > image.size() || Sum(image, start, end - start) != 0) return false;
  for (size_t at = start + fieldsStart; at < end;) {
    if (image[at] == kEndOfFields) return true;
    at += 1 + (image[at] & kFieldLengthMask);
  }
  return false;
}

}  // namespace

size_t LastAreaEnd(const std::vector<uint8_t>& image) {
  if (!HeaderParses(image)) return 0;
  size_t last = 0;
  for (size_t i = kInternalUseOffset; i <= kMultiRecordOffset; ++i) last = image[i] > last ? image[i] : last;
  const size_t start = last * kUnit;
  if (image[kMultiRecordOffset] != 0) {
    const size_t end = RecordsEnd(image, start, false);
    return end != 0 ? end : image.size();
  }
  return start + kAreaLength < image.size() ? start + image[start + kAreaLength] * kUnit : image.size();
}

bool ParsesAsFru(const std::vector<uint8_t>& image) {
  if (!HeaderParses(image)) return false;
  const size_t fieldsStart[kInfoAreaCount] = {kChassisFieldsStart, kBoardFieldsStart, kProductFieldsStart};
  for (size_t n = 0; n < kInfoAreaCount; ++n) {
    const size_t offset = image[kFirstInfoOffset + n] * kUnit;
    if (offset != 0 && !InfoAreaParses(image, offset, fieldsStart[n])) return false;
  }
  const size_t records = image[kMultiRecordOffset] * kUnit;
  return records == 0 || RecordsEnd(image, records, true) != 0;
}

}  // namespace sim
