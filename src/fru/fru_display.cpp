#include "fru/fru_display.h"

#include "fru/fru_date.h"
#include "fru/fru_entry.h"
#include "fru/fru_format.h"
#include "runtime/print.h"
#include "runtime/format.h"
#include "runtime/text.h"
#include "runtime/verbose.h"

namespace {

constexpr size_t DUMP_COLUMNS = 16;
constexpr size_t DUMP_LINE_MAX = 128;

// BCD plus digits, one character per byte; any other byte shows as code 0.
char BcdPlusCharacter(uint8_t value) {
  if (value <= 9) return static_cast<char>('0' + value);
  if (value == 0x0A) return ' ';
  if (value == 0x0B) return '-';
  if (value == 0x0C) return '.';
  return '\0';
}

// Where a value's display form goes: the console, or a text of the caller's.
// A text leaves out the code-0 characters of BCD plus bytes that have no
// digit, which a console shows as nothing.
struct ValueOut {
  char* text;  // null: the console
  size_t capacity;
  size_t length;

  void Put(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    if (text == nullptr) {
      PrintV(format, args);
    } else if (length < capacity) {
      length += FormatStringV(text + length, capacity - length, format, args);
      if (length >= capacity) length = capacity - 1;
    }
    va_end(args);
  }
  void PutCharacter(char c) {
    if (text == nullptr || c != '\0') Put("%c", c);
  }
};

void PutMfgDate(const FieldEntry& row, ValueOut& out) {
  uint32_t minutes = row.Data[0] | row.Data[1] << 8 | static_cast<uint32_t>(row.Data[2]) << 16;
  FruDate date = FruDateFromMinutes(minutes);
  out.Put("%d/%d/%d (0x%02x 0x%02x 0x%02x)", date.year, date.month, date.day, row.Data[0], row.Data[1],
          row.Data[2]);
}

int32_t ShownSize(const FieldEntry& row) {
  if (row.Size < 0) return 0;
  return row.Size > FIELD_DATA_SIZE ? FIELD_DATA_SIZE : row.Size;
}

void PutValue(const FieldEntry& row, ValueOut& out) {
  int32_t size = ShownSize(row);
  switch (row.Type & FRU_TYPE_MASK) {
    case FRU_TYPE_BINARY:
      for (int32_t i = 0; i < size; ++i) out.Put("%02x ", row.Data[i]);
      out.Put(" (%d bytes)", row.Size);
      break;
    case FRU_TYPE_BCD_PLUS:
      out.Put("\"");
      for (int32_t i = 0; i < size; ++i) out.PutCharacter(BcdPlusCharacter(row.Data[i]));
      out.Put("\" (%d bytes)", row.Size);
      break;
    default: {
      char text[FIELD_DATA_SIZE + 1];
      size_t length = 0;
      while (length < static_cast<size_t>(size) && row.Data[length] != 0) {
        text[length] = static_cast<char>(row.Data[length]);
        ++length;
      }
      text[length] = '\0';
      out.Put("\"%s\" (%d bytes)", text, row.Size);
      break;
    }
  }
}

void PutFieldValue(const FieldEntry& row, ValueOut& out) {
  if (row.Area == FRU_AREA_CHASSIS && row.Entry == 0) {
    out.Put("%d", row.Data[0]);
  } else if (row.Area == FRU_AREA_BOARD && row.Entry == 1) {
    PutMfgDate(row, out);
  } else {
    PutValue(row, out);
  }
}

// Width of the offset column: the hex digits of count - 1 (ffffffff for 0).
int DumpWidth(size_t count) {
  char digits[16];
  return static_cast<int>(FormatString(digits, sizeof(digits), "%x", static_cast<uint32_t>(count - 1)));
}

void DumpHeaderLine(int width) {
  char line[DUMP_LINE_MAX];
  size_t p = 0;
  for (int i = 0; i < width; ++i) line[p++] = ' ';
  for (size_t i = 0; i < DUMP_COLUMNS; ++i) p += FormatString(line + p, sizeof(line) - p, " %02X", static_cast<unsigned>(i));
  p += FormatString(line + p, sizeof(line) - p, "\t0123456789ABCDEF");
  Print("%s\n", line);
}

void DumpRow(const uint8_t* bytes, size_t count, size_t offset, int width) {
  char line[DUMP_LINE_MAX];
  size_t p = 0;
  char label[16];
  size_t labelLength = FormatString(label, sizeof(label), "%X", static_cast<unsigned>(offset));
  for (size_t i = labelLength; i < static_cast<size_t>(width); ++i) line[p++] = '0';
  p += FormatString(line + p, sizeof(line) - p, "%s %02x", label, bytes[offset]);
  for (size_t i = 1; i < DUMP_COLUMNS; ++i) {
    if (offset + i < count) {
      p += FormatString(line + p, sizeof(line) - p, " %02x", bytes[offset + i]);
    } else {
      line[p++] = ' ';  // the separating blank, then one blank for the two digits
      line[p++] = ' ';
    }
  }
  line[p++] = '\t';
  for (size_t i = 0; i < DUMP_COLUMNS; ++i) {
    char c = ' ';
    if (offset + i < count) {
      uint8_t b = bytes[offset + i];
      c = (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.';
    }
    line[p++] = c;
  }
  line[p] = '\0';
  Print("%s\n", line);
}

}  // namespace

void ShowField(const FieldEntry& row) {
  Print(" %25s: ", row.Name);
  ValueOut console{nullptr, 0, 0};
  PutFieldValue(row, console);
  Print("\n");
}

size_t FormatFieldValue(const FieldEntry& row, char* text, size_t capacity) {
  if (capacity == 0) return 0;
  text[0] = '\0';
  ValueOut out{text, capacity, 0};
  PutFieldValue(row, out);
  return out.length;
}

namespace {

// Loads one row's value from the image, when the image holds it.
void LoadFruField(const uint8_t* image, size_t imageSize, FieldEntry& row, bool trace) {
  FruInfoArea area{};
  const uint8_t* data = nullptr;
  int32_t size = 0;
  uint8_t type = row.Type;
  if (IsInfoArea(row.Area) && LocateInfoArea(image, imageSize, row.Area, &area)) {
    data = GetFruEntry(row.Area, row.Entry, image + area.start, area.fieldsEnd, &size, &type);
  }
  if (data == nullptr) {
    if (trace) Print("Area=%d Entry=%d (%s) not found\n", row.Area, row.Entry, row.Keyword);
    return;
  }
  row.Size = size;
  row.Type = type;
  if (size == 0) return;
  if (trace) Print("Area=%d Entry=%d (%s), size=%d\n", row.Area, row.Entry, row.Keyword, size);
  CopyBytes(row.Data, data, static_cast<size_t>(size));
}

}  // namespace

void LoadFruFields(const uint8_t* image, size_t imageSize, FieldEntry* rows, int rowCount, bool trace) {
  for (int r = 0; r < rowCount; ++r) LoadFruField(image, imageSize, rows[r], trace);
}

void ShowFru(const uint8_t* image, size_t imageSize, FieldEntry* rows, int rowCount) {
  for (int r = 0; r < rowCount; ++r) {
    LoadFruField(image, imageSize, rows[r], gVerbose != 0);
    if (rows[r].Size != 0 && rows[r].Size != FIELD_SIZE_NOT_GIVEN) ShowField(rows[r]);
  }
}

void DumpHex(const uint8_t* bytes, size_t count) {
  int width = DumpWidth(count);
  DumpHeaderLine(width);
  for (size_t offset = 0; offset < count; offset += DUMP_COLUMNS) DumpRow(bytes, count, offset, width);
}

namespace {

const char* FieldName(uint8_t area, int entry, const FieldEntry* rows, int rowCount) {
  for (int r = 0; r < rowCount; ++r) {
    if (rows[r].Area == area && rows[r].Entry == entry) return rows[r].Name;
  }
  return nullptr;
}

}  // namespace

void FormatFruLintFinding(const FruLintFinding& finding, const FieldEntry* rows, int rowCount, char* line,
                          size_t capacity) {
  size_t p = FormatString(line, capacity, "%s: %s", FruLintPlaceName(finding.place), FruLintText(finding));
  if (p >= capacity) return;
  if (finding.rule == FruLintRule::AreasOverlap) {
    FormatString(line + p, capacity - p, " (%s, %s)", FruLintPlaceName(finding.overlapping[0]),
                 FruLintPlaceName(finding.overlapping[1]));
  } else if (finding.entry != FRU_LINT_NO_ENTRY) {
    const char* name = FieldName(finding.place, finding.entry, rows, rowCount);
    if (name != nullptr) {
      FormatString(line + p, capacity - p, " (%s)", name);
    } else {
      FormatString(line + p, capacity - p, " (field %d)", finding.entry);
    }
  }
}

namespace {

void ShowFindings(const FruLintReport& report, const FieldEntry* rows, int rowCount, bool errorsAsErrors) {
  char line[FRU_LINT_LINE_MAX];
  for (int i = 0; i < report.count; ++i) {
    FormatFruLintFinding(report.findings[i], rows, rowCount, line, sizeof(line));
    const bool error = errorsAsErrors && FruLintLevelOf(report.findings[i]) == FruLintLevel::Error;
    Print("%s %s\n", error ? "[ERROR]" : "[WARN]", line);
  }
  if (report.dropped > 0) Print("[WARN] %d more findings not shown\n", report.dropped);
}

}  // namespace

void ShowFruLint(const FruLintReport& report, const FieldEntry* rows, int rowCount) {
  ShowFindings(report, rows, rowCount, false);
}

void ShowFruLintByLevel(const FruLintReport& report, const FieldEntry* rows, int rowCount) {
  ShowFindings(report, rows, rowCount, true);
}
