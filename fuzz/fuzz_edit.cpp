// Editing an arbitrary image with arbitrary values: the rebuild never writes
// or reads outside its buffers, and an image it hands over for writing is
// sound: a valid header, and every info area it names whole with a zero sum.
#include <vector>

#include "fru/fru_format.h"
#include "fru/image_rebuild.h"
#include "fuzz_support.h"

namespace {

// One byte row index, one byte size (0 to 63, 0xFF: not given), one byte type, then the value.
size_t TakeField(const uint8_t* data, size_t size) {
  if (size < 3) return size;
  FieldEntry& row = gFieldCatalogue.rows[data[0] % FIELD_COUNT];
  size_t length = data[1] % (FIELD_VALUE_MAX + 1);
  if (size - 3 < length) length = size - 3;
  row.Type = data[2] & FRU_TYPE_MASK;
  row.Size = static_cast<int32_t>(length);
  for (size_t i = 0; i < length; ++i) row.Data[i] = data[3 + i];
  if (IsFixedField(row.Area, row.Entry)) row.Size = row.Area == FRU_AREA_CHASSIS ? 1 : 3;
  return 3 + length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  std::string console;
  FreshRun(console);
  gVerbose = data[0] & 1;
  size_t fields = (data[0] >> 1) % 4 + 1;
  size_t inventory = (data[1] | data[2] << 8) % (FRU_IMAGE_MAX + 1);
  size_t at = 3;
  for (size_t i = 0; i < fields && at < size; ++i) at += TakeField(data + at, size - at);

  std::vector<uint8_t> image(FRU_IMAGE_MAX, 0);
  for (size_t i = 0; at + i < size && i < inventory; ++i) image[i] = data[at + i];
  std::vector<uint8_t> newImage(FRU_IMAGE_MAX, 0xEE);
  static auto* work = new FruRebuildWork;
  FruEditResult result =
      EditFruImage(image.data(), inventory, gFieldCatalogue.rows, FIELD_COUNT, newImage.data(), *work);
  HostConsoleCapture(nullptr);
  if (result.outcome != FruEditOutcome::ImageReady) return 0;

  FUZZ_REQUIRE(result.newSize <= inventory && result.newSize >= FRU_HEADER_SIZE);
  FUZZ_REQUIRE(IsCommonHeaderValid(newImage.data()));
  // Every area a given field went into was rebuilt: whole, and summing to zero.
  // The others are carried over as they were, sound or not.
  for (const FieldEntry& row : gFieldCatalogue.rows) {
    if (row.Size == FIELD_SIZE_NOT_GIVEN) continue;
    size_t start = FruAreaStart(newImage.data(), row.Area);
    if (start == 0) continue;  // an erasure in a missing chassis area builds nothing
    FUZZ_REQUIRE(start + 2 <= result.newSize);
    size_t length = newImage[start + 1] * FRU_UNIT;
    FUZZ_REQUIRE(length > 0 && start + length <= result.newSize);
    FUZZ_REQUIRE(FruChecksum(newImage.data() + start, static_cast<uint16_t>(length)) == 0);
  }
  return 0;
}
