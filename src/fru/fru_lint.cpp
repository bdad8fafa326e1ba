#include "fru/fru_lint.h"

#include "runtime/text.h"

namespace {

constexpr FruLintLevel E = FruLintLevel::Error;
constexpr FruLintLevel W = FruLintLevel::Warning;

}  // namespace

// The one table of the rules: the listing, the edit's check and the run's
// record all read their texts and levels from here.
constexpr FruLintRuleRow FRU_LINT_RULES[static_cast<int>(FruLintRule::Count)] = {
    {FruLintRule::HeaderVersion, E, "format version is not 1"},
    {FruLintRule::HeaderChecksum, E, "checksum invalid"},
    {FruLintRule::HeaderPad, E, "pad byte is not 0"},
    {FruLintRule::AreaOutside, E, "starts outside the FRU"},
    {FruLintRule::AreasOverlap, E, "areas overlap"},
    {FruLintRule::AreaVersion, E, "format version is not 1"},
    {FruLintRule::AreaLengthZero, E, "length byte is 0"},
    {FruLintRule::AreaPastEnd, E, "reaches past the end of the FRU"},
    {FruLintRule::AreaChecksum, E, "checksum invalid"},
    {FruLintRule::FieldIntoChecksum, E, "a field runs into the checksum byte"},
    {FruLintRule::NoEndOfFields, E, "no end-of-fields marker (0xC1) before the checksum byte"},
    {FruLintRule::RecordHeaderChecksum, E, "record header checksum invalid"},
    {FruLintRule::RecordVersion, E, "record format version is not 2"},
    {FruLintRule::RecordChecksum, E, "record data checksum invalid"},
    {FruLintRule::RecordPastEnd, E, "a record reaches past the end of the FRU"},
    {FruLintRule::RecordNoEndOfList, E, "no record carries the end-of-list bit"},
    {FruLintRule::BytesAfterEndOfFields, W, "bytes after the end-of-fields marker are not 0"},
    {FruLintRule::LanguageWithText, W, "language code is neither 0 nor 25 (English) but the text is 8-bit"},
    {FruLintRule::TextNotPrintable, W, "text outside printable ASCII"},
    {FruLintRule::PlaceholderValue, W, "placeholder value"},
    {FruLintRule::EmptySerialNumber, W, "serial number is empty"},
    {FruLintRule::DateUnspecified, W, "manufacturing date is 0 (unspecified)"},
    {FruLintRule::OverReaderCap, W, "more than 512 bytes used (OpenBMC's FruDevice reads no further)"},
};

namespace {

constexpr bool RulesInOrder() {
  for (int i = 0; i < static_cast<int>(FruLintRule::Count); ++i) {
    if (static_cast<int>(FRU_LINT_RULES[i].rule) != i || FRU_LINT_RULES[i].text == nullptr) return false;
  }
  return true;
}
static_assert(RulesInOrder(), "FRU_LINT_RULES lists every rule once, in the order of FruLintRule");

const char* const FRU_LINT_PLACE_NAMES[FRU_LINT_PLACE_COUNT] = {
    "Internal Use Area", "Chassis Info Area", "Board Info Area", "Product Info Area",
    "MultiRecord Area",  "Common Header",     "FRU"};

constexpr uint8_t FRU_LANGUAGE_ENGLISH_DEFAULT = 0;
constexpr uint8_t FRU_LANGUAGE_ENGLISH = 25;
constexpr size_t FRU_LANGUAGE_OFFSET = 2;  // board and product areas
constexpr size_t FRU_BOARD_DATE_OFFSET = 3;
constexpr size_t FRU_BOARD_DATE_SIZE = 3;
constexpr size_t FRU_RECORD_DATA_CHECKSUM = 3;

// What vendors' tools leave in fields that nobody filled.
const char* const FRU_PLACEHOLDERS[] = {"To be filled by O.E.M.", "Default string", "0123456789"};

// The serial number's entry in each info area (chassis, board, product).
int SerialEntry(uint8_t area) {
  switch (area) {
    case FRU_AREA_CHASSIS:
      return 2;
    case FRU_AREA_BOARD:
      return 4;
    case FRU_AREA_PRODUCT:
      return 5;
    default:
      return -1;
  }
}

uint8_t SumBytes(const uint8_t* bytes, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum;
}

FruLintFinding* Add(FruLintReport* report, FruLintRule rule, uint8_t place, size_t offset,
                    int entry = FRU_LINT_NO_ENTRY) {
  if (FRU_LINT_RULES[static_cast<int>(rule)].level == FruLintLevel::Error) ++report->errorCount;
  if (report->count == FRU_LINT_FINDINGS_MAX) {
    ++report->dropped;
    return nullptr;
  }
  FruLintFinding& finding = report->findings[report->count++];
  finding = FruLintFinding{rule, place, static_cast<int8_t>(entry), {0, 0}, static_cast<uint16_t>(offset)};
  return &finding;
}

bool IsZero(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

// The bytes each area covers, for the overlap and the used-size checks.
struct Extent {
  bool present;
  size_t start;
  size_t end;  // exclusive; end == start when the area's size is unknown
};

bool MatchesFolded(const uint8_t* data, size_t size, const char* text) {
  if (TextLength(text) != size) return false;
  return FindFoldedWithin(reinterpret_cast<const char*>(data), size, text) == reinterpret_cast<const char*>(data);
}

bool IsPlaceholder(const uint8_t* data, size_t size) {
  for (const char* placeholder : FRU_PLACEHOLDERS) {
    if (MatchesFolded(data, size, placeholder)) return true;
  }
  return false;
}

// The warnings about one type/length field's value.
void LintFieldValue(FruLintReport* report, uint8_t area, int entry, size_t at, uint8_t typeLength,
                    const uint8_t* data) {
  const size_t size = typeLength & FRU_LENGTH_MASK;
  if (entry == SerialEntry(area) && size == 0) Add(report, FruLintRule::EmptySerialNumber, area, at, entry);
  if ((typeLength & FRU_TYPE_MASK) != FRU_TYPE_TEXT) return;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] < 0x20 || data[i] > 0x7E) {
      Add(report, FruLintRule::TextNotPrintable, area, at + 1 + i, entry);
      break;
    }
  }
  if (IsPlaceholder(data, size)) Add(report, FruLintRule::PlaceholderValue, area, at, entry);
}

// Walks the type/length fields of a sound-sized info area from the first to
// the end-of-fields marker. Returns whether the area holds 8-bit text.
bool LintFields(FruLintReport* report, const uint8_t* image, size_t start, size_t length, uint8_t area) {
  const FruLayoutInfo layout = GetFruLayoutInfo(area);
  const size_t checksumAt = length - 1;
  const uint8_t* bytes = image + start;
  bool text = false;
  int entry = layout.fixedCount;
  size_t p = layout.firstFieldOffset;
  for (;;) {
    if (p >= checksumAt) {
      Add(report, FruLintRule::NoEndOfFields, area, start + checksumAt);
      return text;
    }
    const uint8_t typeLength = bytes[p];
    if (typeLength == FRU_END_OF_FIELDS) break;
    const size_t size = typeLength & FRU_LENGTH_MASK;
    if (checksumAt - (p + 1) < size) {
      Add(report, FruLintRule::FieldIntoChecksum, area, start + p, entry);
      return text;
    }
    if ((typeLength & FRU_TYPE_MASK) == FRU_TYPE_TEXT && size > 0) text = true;
    if (entry < FRU_ENTRY_COUNT) LintFieldValue(report, area, entry, start + p, typeLength, bytes + p + 1);
    p += 1 + size;
    ++entry;
  }
  // A serial number the area ends before is as empty as one written empty.
  const int serial = SerialEntry(area);
  if (entry <= serial) Add(report, FruLintRule::EmptySerialNumber, area, start + p, serial);
  for (size_t i = p + 1; i < checksumAt; ++i) {
    if (bytes[i] != 0) {
      Add(report, FruLintRule::BytesAfterEndOfFields, area, start + i);
      break;
    }
  }
  return text;
}

Extent LintInfoArea(FruLintReport* report, const uint8_t* image, size_t size, uint8_t area, size_t start) {
  Extent extent{true, start, start};
  if (size - start <= FRU_AREA_LENGTH) {
    Add(report, FruLintRule::AreaPastEnd, area, start);
    return extent;
  }
  const uint8_t* bytes = image + start;
  if (bytes[FRU_AREA_VERSION] != FRU_FORMAT_VERSION) Add(report, FruLintRule::AreaVersion, area, start);
  const size_t length = static_cast<size_t>(bytes[FRU_AREA_LENGTH]) * FRU_UNIT;
  if (length == 0) {
    Add(report, FruLintRule::AreaLengthZero, area, start + FRU_AREA_LENGTH);
    return extent;
  }
  if (length > size - start) {
    Add(report, FruLintRule::AreaPastEnd, area, start + FRU_AREA_LENGTH);
    return extent;
  }
  extent.end = start + length;
  if (SumBytes(bytes, length) != 0) Add(report, FruLintRule::AreaChecksum, area, start + length - 1);
  const bool text = LintFields(report, image, start, length, area);
  if (area != FRU_AREA_CHASSIS) {
    const uint8_t language = bytes[FRU_LANGUAGE_OFFSET];
    if (text && language != FRU_LANGUAGE_ENGLISH_DEFAULT && language != FRU_LANGUAGE_ENGLISH) {
      Add(report, FruLintRule::LanguageWithText, area, start + FRU_LANGUAGE_OFFSET);
    }
  }
  if (area == FRU_AREA_BOARD && IsZero(bytes + FRU_BOARD_DATE_OFFSET, FRU_BOARD_DATE_SIZE)) {
    Add(report, FruLintRule::DateUnspecified, area, start + FRU_BOARD_DATE_OFFSET);
  }
  return extent;
}

// Walks the record chain; a record whose header cannot be trusted ends the walk.
Extent LintMultiRecord(FruLintReport* report, const uint8_t* image, size_t size, size_t start) {
  const uint8_t area = FRU_AREA_MULTIRECORD;
  Extent extent{true, start, start};
  size_t record = start;
  size_t previous = start;
  for (;;) {
    if (size - record < FRU_RECORD_HEADER_SIZE) {
      Add(report, record == start ? FruLintRule::RecordPastEnd : FruLintRule::RecordNoEndOfList, area, record);
      return extent;
    }
    const uint8_t* header = image + record;
    // Past a record that should have ended the list lies no record at all: the fault is the missing bit.
    if (record != start && (SumBytes(header, FRU_RECORD_HEADER_SIZE) != 0 ||
                            (header[FRU_RECORD_FORMAT] & FRU_RECORD_VERSION_MASK) != FRU_RECORD_VERSION)) {
      Add(report, FruLintRule::RecordNoEndOfList, area, previous + FRU_RECORD_FORMAT);
      return extent;
    }
    previous = record;
    if (SumBytes(header, FRU_RECORD_HEADER_SIZE) != 0) {
      Add(report, FruLintRule::RecordHeaderChecksum, area, record);
      return extent;
    }
    if ((header[FRU_RECORD_FORMAT] & FRU_RECORD_VERSION_MASK) != FRU_RECORD_VERSION) {
      Add(report, FruLintRule::RecordVersion, area, record + FRU_RECORD_FORMAT);
      return extent;
    }
    const size_t data = record + FRU_RECORD_HEADER_SIZE;
    const size_t length = header[FRU_RECORD_LENGTH];
    if (size - data < length) {
      Add(report, FruLintRule::RecordPastEnd, area, record);
      return extent;
    }
    if (static_cast<uint8_t>(SumBytes(image + data, length) + header[FRU_RECORD_DATA_CHECKSUM]) != 0) {
      Add(report, FruLintRule::RecordChecksum, area, record + FRU_RECORD_DATA_CHECKSUM);
    }
    record = data + length;
    extent.end = record;
    if ((header[FRU_RECORD_FORMAT] & FRU_RECORD_END_OF_LIST) != 0) return extent;
  }
}

// The Internal Use Area's size is stored nowhere: it ends where the next area
// above it starts, or with the FRU.
size_t InternalUseEnd(const Extent* extents, size_t size) {
  const size_t start = extents[FRU_AREA_INTERNAL_USE].start;
  size_t end = size;
  for (uint8_t n = FRU_AREA_CHASSIS; n < FRU_AREA_COUNT; ++n) {
    if (extents[n].present && extents[n].start > start && extents[n].start < end) end = extents[n].start;
  }
  return end;
}

bool Overlap(const Extent& a, const Extent& b) {
  if (!a.present || !b.present) return false;
  if (a.start == b.start) return true;  // whatever their sizes, two areas cannot start at one byte
  return a.start < b.end && b.start < a.end;
}

void LintOverlaps(FruLintReport* report, const Extent* extents) {
  for (uint8_t a = 0; a < FRU_AREA_COUNT; ++a) {
    for (uint8_t b = a + 1; b < FRU_AREA_COUNT; ++b) {
      if (!Overlap(extents[a], extents[b])) continue;
      const size_t later = extents[a].start > extents[b].start ? extents[a].start : extents[b].start;
      FruLintFinding* finding = Add(report, FruLintRule::AreasOverlap, FRU_LINT_HEADER, later);
      if (finding == nullptr) continue;
      finding->overlapping[0] = a;
      finding->overlapping[1] = b;
    }
  }
}

}  // namespace

const char* FruLintPlaceName(uint8_t place) {
  return place < FRU_LINT_PLACE_COUNT ? FRU_LINT_PLACE_NAMES[place] : "FRU";
}

void ClearFruLint(FruLintReport* report) {
  report->count = 0;
  report->errorCount = 0;
  report->dropped = 0;
}

void LintFru(const uint8_t* image, size_t size, FruLintReport* report) {
  ClearFruLint(report);
  if (size < FRU_HEADER_SIZE) {
    Add(report, FruLintRule::AreaPastEnd, FRU_LINT_HEADER, 0);
    return;
  }
  // A header that fails these locates nothing: its offsets are not looked at.
  bool headerSound = true;
  if (image[FRU_HEADER_VERSION] != FRU_FORMAT_VERSION) {
    Add(report, FruLintRule::HeaderVersion, FRU_LINT_HEADER, FRU_HEADER_VERSION);
    headerSound = false;
  }
  if (SumBytes(image, FRU_HEADER_SIZE) != 0) {
    Add(report, FruLintRule::HeaderChecksum, FRU_LINT_HEADER, FRU_HEADER_CHECKSUM);
    headerSound = false;
  }
  if (!headerSound) return;
  if (image[FRU_HEADER_PAD] != 0) Add(report, FruLintRule::HeaderPad, FRU_LINT_HEADER, FRU_HEADER_PAD);

  Extent extents[FRU_AREA_COUNT] = {};
  for (uint8_t n = 0; n < FRU_AREA_COUNT; ++n) {
    const size_t start = FruAreaStart(image, n);
    if (start == 0) continue;
    if (start >= size) {
      Add(report, FruLintRule::AreaOutside, n, FRU_HEADER_FIRST_OFFSET + n);
      continue;
    }
    if (IsInfoArea(n)) {
      extents[n] = LintInfoArea(report, image, size, n, start);
    } else if (n == FRU_AREA_MULTIRECORD) {
      extents[n] = LintMultiRecord(report, image, size, start);
    } else {
      extents[n] = Extent{true, start, start};
    }
  }
  if (extents[FRU_AREA_INTERNAL_USE].present) extents[FRU_AREA_INTERNAL_USE].end = InternalUseEnd(extents, size);
  LintOverlaps(report, extents);
  size_t used = 0;
  for (uint8_t n = 0; n < FRU_AREA_COUNT; ++n) {
    if (!extents[n].present) continue;
    // An Internal Use Area that the FRU ends has no size of its own: only its first byte counts.
    const bool unbounded = n == FRU_AREA_INTERNAL_USE && extents[n].end == size;
    const size_t end = unbounded ? extents[n].start + 1 : extents[n].end;
    if (end > used) used = end;
  }
  if (used > FRU_LINT_READER_CAP) Add(report, FruLintRule::OverReaderCap, FRU_LINT_WHOLE, used - 1);
}
