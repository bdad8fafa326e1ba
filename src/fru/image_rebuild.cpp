#include "fru/image_rebuild.h"

#include "fru/fru_display.h"
#include "fru/fru_entry.h"
#include "fru/fru_format.h"
#include "runtime/print.h"
#include "runtime/arena.h"
#include "runtime/text.h"
#include "runtime/verbose.h"

namespace {

constexpr size_t FRU_AREA_SIZE_MAX = FRU_OFFSET_UNITS_MAX * FRU_UNIT;  // what a length byte can say

const char* const FRU_AREA_NAMES[FRU_AREA_COUNT] = {"Internal Use", "Chassis Info", "Board Info", "Product Info",
                                                "MultiRecord"};

void PrintRule() { Print("-------------------------------------------------\n"); }

size_t RoundUpToUnit(size_t size) { return (size + FRU_UNIT - 1) / FRU_UNIT * FRU_UNIT; }

// Where an area that cannot be sized ends when it is carried over whole: at
// the start of the next area above it, or at the end of the image.
size_t CarriedAreaEnd(const uint8_t* image, size_t imageSize, size_t start) {
  size_t end = imageSize;
  for (uint8_t n = 0; n < FRU_AREA_COUNT; ++n) {
    size_t other = FruAreaStart(image, n);
    if (other > start && other < end) end = other;
  }
  return end;
}

void FillSlot(FruRebuildWork& work, uint8_t n, const uint8_t* bytes, size_t size) {
  work.slots[n].length = static_cast<uint32_t>(size);
  CopyBytes(work.slots[n].data, bytes, size);
}

// The size of the area that starts at start. Unsized internal-use and
// multirecord areas, and damaged info areas, are carried over verbatim so that
// nothing the board holds is dropped.
void SizeArea(const uint8_t* image, size_t imageSize, uint8_t n, size_t start, size_t* size) {
  size_t carried = CarriedAreaEnd(image, imageSize, start) - start;
  if (n == FRU_AREA_INTERNAL_USE) {
    if (GetInternalUseSize(image, size)) {
      if (gVerbose) Print("Area=%d, Internal use exists but get size error\n", n);
      *size = carried;
      return;
    }
    if (*size > imageSize - start) *size = imageSize - start;
    return;
  }
  if (n == FRU_AREA_MULTIRECORD) {
    if (GetMultiRecordSize(image, imageSize, start, size)) {
      if (gVerbose) Print("Area=%d, MultiRecord table exists but data error\n", n);
      *size = carried;
    }
    return;
  }
  FruInfoArea area{};
  LocateInfoArea(image, imageSize, n, &area);
  *size = area.damaged ? carried : area.readable;
  // The size the area's length byte gives, also for a damaged area that is carried whole.
  const size_t stated = start + FRU_AREA_LENGTH < imageSize ? image[start + FRU_AREA_LENGTH] * FRU_UNIT : 0;
  if (gVerbose) Print("Area=%d, size=%d\n", n, static_cast<int>(stated));
}

enum class SplitResult { Ready, SkipField, Refused };

// Copies every area of the working image into its slot; builds the edited
// area from its empty form when the image has none.
SplitResult SplitFruImage(FruRebuildWork& work, const uint8_t* image, size_t imageSize, const FieldEntry& row) {
  const uint8_t a = row.Area;
  for (uint8_t n = 0; n < FRU_AREA_COUNT; ++n) {
    work.slots[n].length = 0;
    size_t start = FruAreaStart(image, n);
    if (start != 0 && start >= imageSize) {
      // Nothing of such an area lies in the image, so it can be neither
      // rebuilt nor carried over; dropping it would lose what the header names.
      Print("[ERROR] %s Area starts at offset %d, past the end of the %d-byte FRU\n", FRU_AREA_NAMES[n],
            static_cast<int>(start), static_cast<int>(imageSize));
      return SplitResult::Refused;
    }
    if (start == 0) {
      if (gVerbose) Print("Data Area=%d not found\n", n);
      if (n != a) continue;
      if (a == FRU_AREA_CHASSIS && row.Size == FIELD_SIZE_ERASE) return SplitResult::SkipField;
      if (gVerbose) Print("Area=%d not found, build it...\n", a);
      FruEmptyArea empty = GetFruEmptyArea(a);
      FillSlot(work, a, empty.bytes, empty.size);
      if (gVerbose) DumpHex(work.slots[a].data, work.slots[a].length);
      continue;
    }
    // A damaged info area is only ever carried here: an edit of one was
    // refused before the first rebuild (RefuseDamagedEditedArea).
    size_t size = 0;
    SizeArea(image, imageSize, n, start, &size);
    FillSlot(work, n, image + start, size);
  }
  return SplitResult::Ready;
}

// Collects the sixteen entries of the edited area, the given value in its place.
int SetFruEntry(FruRebuildWork& work, const FieldEntry& row) {
  const uint8_t a = row.Area;
  if (gVerbose) {
    PrintRule();
    Print("SetFruEntry: Area=%d Entry=%d (%s), Size=%d, Type=0x%02x\n", a, row.Entry, row.Keyword, row.Size,
          row.Type);
  }
  int last = 0;
  for (int i = 0; i < FRU_ENTRY_COUNT; ++i) {
    FruRebuildEntry& entry = work.entries[i];
    entry.size = 0;
    entry.type = FRU_TYPE_TEXT;
    if (i == row.Entry) {
      if (row.Size != 0) {
        entry.type = row.Type;
        entry.size = row.Size;
        CopyBytes(entry.data, row.Data, static_cast<size_t>(row.Size));
        last = i;
      }
    } else {
      // The edited area is sound (or new): its fields end at its checksum.
      const uint8_t* data =
          GetFruEntry(a, i, work.slots[a].data, FruSoundAreaFieldsEnd(work.slots[a].length), &entry.size, &entry.type);
      if (data == nullptr) {
        entry.size = 0;
        entry.type = FRU_TYPE_TEXT;
        continue;
      }
      if (entry.size != 0) {
        CopyBytes(entry.data, data, static_cast<size_t>(entry.size));
        last = i;
      }
    }
    if (gVerbose) Print("Entries[%d]: Size=%d, Type=0x%02x\n", i, entry.size, entry.type);
  }
  return last;
}

// Lays the area out anew from the collected entries; 0 when it would be
// larger than a length byte can describe.
size_t RebuildArea(FruRebuildWork& work, uint8_t a, int last) {
  FillBytes(work.newArea, 0, sizeof(work.newArea));
  const FruLayoutInfo layout = GetFruLayoutInfo(a);
  const FruAreaSlot& old = work.slots[a];
  const FruEntryTail tail = GetFruEntryTail(a, old.data, FruSoundAreaFieldsEnd(old.length));
  // Entries past 15 follow entry 15, so every entry before them keeps its place.
  if (tail.length > 0) last = FRU_ENTRY_COUNT - 1;

  work.newArea[FRU_AREA_VERSION] = old.data[FRU_AREA_VERSION];
  work.newArea[FRU_AREA_LENGTH] = old.data[FRU_AREA_LENGTH];
  size_t p = FRU_AREA_FIXED_START;
  for (int i = 0; i < FRU_ENTRY_COUNT; ++i) {
    const FruRebuildEntry& entry = work.entries[i];
    if (i < layout.fixedCount) {
      // A fixed field always has its layout size, whatever the value held.
      const size_t width = FruAreaLayout[a].pairs[i].second;
      const size_t copied = static_cast<size_t>(entry.size) < width ? static_cast<size_t>(entry.size) : width;
      CopyBytes(work.newArea + p, entry.data, copied);
      p += width;
      continue;
    }
    if (entry.size == 0 && i > layout.alwaysWritten && i >= last) continue;
    work.newArea[p++] = static_cast<uint8_t>(entry.type | entry.size);
    CopyBytes(work.newArea + p, entry.data, static_cast<size_t>(entry.size));
    p += static_cast<size_t>(entry.size);
  }
  CopyBytes(work.newArea + p, old.data + tail.offset, tail.length);
  p += tail.length;
  work.newArea[p] = FRU_END_OF_FIELDS;
  const size_t size = RoundUpToUnit(p + 2);
  if (size > FRU_AREA_SIZE_MAX) return 0;
  work.newArea[FRU_AREA_LENGTH] = static_cast<uint8_t>(size / FRU_UNIT);
  work.newArea[size - 1] = FruChecksum(work.newArea, static_cast<uint16_t>(size));
  if (gVerbose) {
    Print("Area=%d result, InfoSize = %d\n", a, static_cast<int>(size));
    for (size_t i = 0; i < size; ++i) Print("%02x ", work.newArea[i]);
    Print("\n");
    PrintRule();
  }
  FillSlot(work, a, work.newArea, size);
  return size;
}

// The size the packed image needs, whether or not it can be built.
size_t PackedSize(const FruRebuildWork& work) {
  size_t units = 1;
  for (const FruAreaSlot& slot : work.slots) units += RoundUpToUnit(slot.length) / FRU_UNIT;
  return units * FRU_UNIT;
}

// Packs the slots from offset 8 in area order under a new header. False, with
// its message, when an offset would pass 255 units or the image would pass
// FRU_IMAGE_MAX.
bool NewFru(const FruRebuildWork& work, const uint8_t* image, uint8_t* newImage, size_t* newSize) {
  *newSize = PackedSize(work);
  size_t units = 1;
  for (uint8_t n = 0; n < FRU_AREA_COUNT; ++n) {
    if (work.slots[n].length == 0) continue;
    if (units > FRU_OFFSET_UNITS_MAX) {
      Print("[ERROR] The new FRU would need an area offset above 255 units of 8 bytes\n");
      return false;
    }
    units += RoundUpToUnit(work.slots[n].length) / FRU_UNIT;
  }
  if (*newSize > FRU_IMAGE_MAX) {
    Print("[ERROR] The new FRU would need %d bytes, more than the %d bytes this tool can hold\n",
          static_cast<int>(*newSize), static_cast<int>(FRU_IMAGE_MAX));
    return false;
  }

  FillBytes(newImage, 0, FRU_IMAGE_MAX);
  newImage[FRU_HEADER_VERSION] = image[FRU_HEADER_VERSION];
  units = 1;
  for (uint8_t n = 0; n < FRU_AREA_COUNT; ++n) {
    if (work.slots[n].length == 0) continue;
    CopyBytes(newImage + units * FRU_UNIT, work.slots[n].data, work.slots[n].length);
    newImage[FRU_HEADER_FIRST_OFFSET + n] = static_cast<uint8_t>(units);
    units += RoundUpToUnit(work.slots[n].length) / FRU_UNIT;
  }
  newImage[FRU_HEADER_CHECKSUM] = FruChecksum(newImage, FRU_HEADER_CHECKSUM);
  if (gVerbose) {
    Print("NewFruSize: %d\n", static_cast<int>(*newSize));
    DumpHex(newImage, *newSize);
  }
  return true;
}

// A FRU never written holds only erased (0xFF) or zeroed bytes.
bool IsBlankFru(const uint8_t* image, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (image[i] != 0x00 && image[i] != 0xFF) return false;
  }
  return true;
}

bool IsAreaEdited(const FieldEntry* rows, int rowCount, uint8_t area) {
  for (int r = 0; r < rowCount; ++r) {
    if (rows[r].Size != FIELD_SIZE_NOT_GIVEN && rows[r].Area == area) return true;
  }
  return false;
}

// Whether an area may be rebuilt is decided on the FRU as it was read: the
// rebuild of an earlier area carries a damaged one over into a larger working
// image, where it would no longer look damaged and a later row would rebuild
// it from bytes that were never part of it. An area that starts past the end
// is left to the split, which refuses the edit whichever area it names.
bool RefuseDamagedEditedArea(const uint8_t* image, size_t imageSize, const FieldEntry* rows, int rowCount) {
  for (uint8_t n = 0; n < FRU_AREA_COUNT; ++n) {
    if (FruAreaStart(image, n) >= imageSize) return false;
  }
  for (uint8_t n = FRU_AREA_CHASSIS; n <= FRU_AREA_PRODUCT; ++n) {
    FruInfoArea area{};
    if (!IsAreaEdited(rows, rowCount, n) || !LocateInfoArea(image, imageSize, n, &area) || !area.damaged) continue;
    const size_t start = area.start;
    Print("[ERROR] %s Area at offset %d is damaged (length byte %d, FRU size %d): it cannot be rebuilt\n",
          FRU_AREA_NAMES[n], static_cast<int>(start), start + FRU_AREA_LENGTH < imageSize ? image[start + 1] : -1,
          static_cast<int>(imageSize));
    return true;
  }
  return false;
}

enum class ApplyResult { Applied, Skipped, TooLarge, Refused };

ApplyResult ApplyField(FruRebuildWork& work, uint8_t* image, size_t imageSize, const FieldEntry& row,
                       uint8_t* newImage, size_t* newSize) {
  if (gVerbose) {
    Print("going to set:Area=%d Entry=%d (%s), Data=%p, Size=%d, Type=%d\n", row.Area, row.Entry, row.Keyword,
          static_cast<const void*>(row.Data), row.Size, row.Type);
  }
  if (!IsInfoArea(row.Area) || row.Entry >= FRU_ENTRY_COUNT || row.Size > FIELD_VALUE_MAX) {
    Print("[ERROR] Field %s cannot be stored\n", row.Keyword);
    return ApplyResult::Refused;
  }
  switch (SplitFruImage(work, image, imageSize, row)) {
    case SplitResult::Refused:
      return ApplyResult::Refused;
    case SplitResult::SkipField:
      *newSize = 0;
      if (gVerbose) {
        Print("NewFruSize: %d\n", 0);
        DumpHex(newImage, 0);
      }
      return ApplyResult::Skipped;
    case SplitResult::Ready:
      break;
  }
  int last = SetFruEntry(work, row);
  if (RebuildArea(work, row.Area, last) == 0) {
    Print("[ERROR] %s Area would be larger than %d bytes\n", FRU_AREA_NAMES[row.Area],
          static_cast<int>(FRU_AREA_SIZE_MAX));
    return ApplyResult::Refused;
  }
  if (!NewFru(work, image, newImage, newSize)) return ApplyResult::TooLarge;
  CopyBytes(image, newImage, *newSize);
  return ApplyResult::Applied;
}

}  // namespace

FruEditResult EditFruImage(uint8_t* image, size_t inventorySize, const FieldEntry* rows, int rowCount,
                           uint8_t* newImage, FruRebuildWork& work) {
  if (gVerbose) {
    Print("FRU data to process:\n");
    DumpHex(image, inventorySize);
    // The listing loads values into its rows: it gets a copy, so the given values stay.
    auto* copy = static_cast<FieldEntry*>(ArenaAlloc(sizeof(FieldEntry) * static_cast<size_t>(rowCount)));
    if (copy != nullptr) {
      CopyBytes(copy, rows, sizeof(FieldEntry) * static_cast<size_t>(rowCount));
      ShowFru(image, inventorySize, copy, rowCount);
    }
  }
  if (!IsCommonHeaderValid(image)) {
    // Rebuilding the header starts a blank FRU; over data it would discard every area.
    if (!IsBlankFru(image, inventorySize)) {
      Print("[ERROR] Common header invalid on a FRU that holds data; nothing was written (list it, and clear it "
            "with ClearFru=1 if it may go)\n");
      return FruEditResult{FruEditOutcome::Refused, 0};
    }
    Print("Common header invalid, rebuild...\n");
    RebuildCommonHeader(image, inventorySize);
  }
  if (RefuseDamagedEditedArea(image, inventorySize, rows, rowCount)) return FruEditResult{FruEditOutcome::Refused, 0};
  size_t imageSize = inventorySize;
  size_t newSize = 0;
  bool tooLarge = false;
  for (int r = 0; r < rowCount; ++r) {
    if (rows[r].Size == FIELD_SIZE_NOT_GIVEN) continue;
    ApplyResult applied = ApplyField(work, image, imageSize, rows[r], newImage, &newSize);
    if (applied == ApplyResult::Refused) return FruEditResult{FruEditOutcome::Refused, 0};
    if (applied == ApplyResult::TooLarge) {
      tooLarge = true;  // there is no image to show
      break;
    }
    // The new image is the working image now; what lies beyond it is old and unused.
    if (newSize > imageSize) imageSize = newSize;
  }
  Print("NewFru result: Size=%d\n", static_cast<int>(newSize));
  DumpHex(newImage, tooLarge ? 0 : newSize);
  if (tooLarge || newSize > inventorySize) {
    Print("[ERROR] New size is over FRU's capacity: new size=%d, capacity=%d\n", static_cast<int>(newSize),
          static_cast<int>(inventorySize));
    return FruEditResult{FruEditOutcome::OverCapacity, newSize};
  }
  if (newSize == 0) return FruEditResult{FruEditOutcome::NothingToWrite, 0};
  return FruEditResult{FruEditOutcome::ImageReady, newSize};
}
