// Turning the image read from the BMC and the given field values into the
// new image: one area rebuild and one image assembly per given field.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "fields/field_entry.h"
#include "fru/fru_format.h"

enum class FruEditOutcome {
  ImageReady,      // the new image fits: write it
  OverCapacity,    // larger than the device, or than a header can describe; message printed
  NothingToWrite,  // no field produced an image (an erasure in a missing chassis area)
  Refused,         // a damaged area or a value that cannot be stored; message printed
};

struct FruEditResult {
  FruEditOutcome outcome;
  size_t newSize;
};

// The work of one edit, owned by the caller: each area of the working image
// in a slot, the sixteen entries of the area being rebuilt, and its new form.
struct FruAreaSlot {
  uint32_t length;  // 0: no area
  uint8_t data[FRU_IMAGE_MAX];
};
struct FruRebuildEntry {
  uint8_t type;
  int32_t size;
  uint8_t data[FIELD_DATA_SIZE];
};
struct FruRebuildWork {
  FruAreaSlot slots[FRU_AREA_COUNT];
  FruRebuildEntry entries[FRU_ENTRY_COUNT];
  uint8_t newArea[FRU_IMAGE_MAX];
};

// Applies every row whose Size is not -1, in row order, to the working image
// (inventorySize valid bytes, at most FRU_IMAGE_MAX); the new image is left in
// newImage (FRU_IMAGE_MAX bytes) and, as the editing goes, in image.
FruEditResult EditFruImage(uint8_t* image, size_t inventorySize, const FieldEntry* rows, int rowCount,
                           uint8_t* newImage, FruRebuildWork& work);
