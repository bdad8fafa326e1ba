#include "app/fru_verify.h"

#include "fields/catalogue.h"
#include "fru/fru_display.h"
#include "fru/fru_format.h"
#include "fru/fru_lint.h"
#include "runtime/format.h"
#include "runtime/print.h"
#include "runtime/text.h"

namespace {

constexpr const char* VERIFY_NOTHING = "nothing";
constexpr const char* VERIFY_SET_DATE = "a set date";
constexpr const char* VERIFY_NOT_TAKEN = "(no value taken)";
constexpr const char* VERIFY_BLANK_KEYWORD = "ClearFru";
constexpr const char* VERIFY_BLANK_NAME = "Blank FRU";
constexpr const char* VERIFY_BLANK = "all 0x00 or all 0xFF";
constexpr size_t MFG_DATE_BYTES = 3;

void SetText(char* text, const char* value) { FormatString(text, RUN_VALUE_TEXT_MAX, "%s", value); }

bool IsEmpty(const FieldEntry& row) { return row.Size <= 0; }

// 00 00 00 is the unspecified date.
bool HoldsSetDate(const FieldEntry& held) {
  if (held.Size != static_cast<int32_t>(MFG_DATE_BYTES)) return false;
  for (size_t i = 0; i < MFG_DATE_BYTES; ++i) {
    if (held.Data[i] != 0) return true;
  }
  return false;
}

bool HasArea(const RunState& run, uint8_t area) {
  FruInfoArea located{};
  return LocateInfoArea(run.original, run.inventorySize, area, &located);
}

VerifyLine& NewLine(RunState& run, const char* keyword, const char* name) {
  VerifyLine& line = run.verify[run.verifyCount++];
  line.keyword = keyword;
  line.name = name;
  line.ok = false;
  line.found[0] = '\0';
  line.expected[0] = '\0';
  return line;
}

void PrintLine(const VerifyLine& line) {
  if (line.ok) {
    Print(" %25s: ok\n", line.name);
  } else {
    Print("[ERROR] %s: the FRU holds %s, expected %s\n", line.name, line.found, line.expected);
  }
}

enum class Expect { Given, SetDate, NotTaken };

void CompareField(RunState& run, const FieldEntry& given, const FieldEntry& held, Expect expect) {
  VerifyLine& line = NewLine(run, given.Keyword, given.Name);
  switch (expect) {
    case Expect::Given:
      ShowValueText(given, line.expected);
      break;
    case Expect::SetDate:
      SetText(line.expected, VERIFY_SET_DATE);
      break;
    case Expect::NotTaken:
      SetText(line.expected, VERIFY_NOT_TAKEN);
      break;
  }
  if (!HasArea(run, given.Area)) {
    FormatString(line.found, RUN_VALUE_TEXT_MAX, "no %s", FruLintPlaceName(given.Area));
  } else {
    ShowValueText(held, line.found);
    line.ok = expect == Expect::Given ? SameFieldValue(held, given) : expect == Expect::SetDate && HoldsSetDate(held);
  }
  PrintLine(line);
}

// All 0x00 (a clear) or all 0xFF (a part never written).
void CompareBlank(RunState& run) {
  VerifyLine& line = NewLine(run, VERIFY_BLANK_KEYWORD, VERIFY_BLANK_NAME);
  SetText(line.expected, VERIFY_BLANK);
  const uint8_t* image = run.original;
  const size_t size = run.inventorySize;
  const uint8_t fill = size > 0 && image[0] == 0xFF ? 0xFF : 0x00;
  size_t at = 0;
  while (at < size && image[at] == fill) ++at;
  line.ok = at == size;
  if (line.ok) {
    FormatString(line.found, RUN_VALUE_TEXT_MAX, "all 0x%02X", fill);
  } else {
    FormatString(line.found, RUN_VALUE_TEXT_MAX, "0x%02x at offset 0x%x", image[at], static_cast<unsigned>(at));
  }
  PrintLine(line);
}

bool WasMissed(const RunState& run, const FieldEntry& row) {
  for (int i = 0; i < run.missedCount; ++i) {
    if (run.missed[i] == &row) return true;
  }
  return false;
}

}  // namespace

bool SameFieldValue(const FieldEntry& a, const FieldEntry& b) {
  if (IsEmpty(a) || IsEmpty(b)) return IsEmpty(a) && IsEmpty(b);
  if (a.Size != b.Size) return false;
  if (!IsFixedField(a.Area, a.Entry) && (a.Type & FRU_TYPE_MASK) != (b.Type & FRU_TYPE_MASK)) return false;
  return CompareBytes(a.Data, b.Data, static_cast<size_t>(a.Size)) == 0;
}

void ShowValueText(const FieldEntry& row, char* text) {
  if (IsEmpty(row)) {
    SetText(text, VERIFY_NOTHING);
    return;
  }
  FormatFieldValue(row, text, RUN_VALUE_TEXT_MAX);
}

int VerifyFru(RunState& run) {
  run.verifyCount = 0;
  run.held = FIELD_CATALOGUE_INITIAL;
  LoadFruFields(run.original, run.inventorySize, run.held.rows, FIELD_COUNT, false);
  // As a run would: a clear only when no field is given.
  const bool blankExpected = !run.fieldsGiven && run.clearRequest;
  if (blankExpected) CompareBlank(run);
  for (int r = 0; r < FIELD_COUNT; ++r) {
    const FieldEntry& given = gFieldCatalogue.rows[r];
    const FieldEntry& held = run.held.rows[r];
    if (given.Size != FIELD_SIZE_NOT_GIVEN) {
      CompareField(run, given, held, Expect::Given);
    } else if (run.dateExpectedSet && IsMfgDateRow(given)) {
      CompareField(run, given, held, Expect::SetDate);
    } else if (WasMissed(run, given)) {
      CompareField(run, given, held, Expect::NotTaken);
    }
  }
  // A line whose values were lost must not pass QA by comparing nothing.
  if (run.verifyCount == 0) Print("[ERROR] Nothing to verify: give the fields the FRU should hold, or ClearFru=1\n");
  // A blank FRU is what a clear leaves: the lint would find no header in it.
  if (!blankExpected) {
    LintFru(run.original, run.inventorySize, &run.lint);
    run.linted = true;
    ShowFruLintByLevel(run.lint, FIELD_CATALOGUE_INITIAL.rows, FIELD_COUNT);
  }
  bool verified = run.verifyCount > 0 && (!run.linted || run.lint.errorCount == 0);
  for (int i = 0; i < run.verifyCount; ++i) verified = verified && run.verify[i].ok;
  Print(verified ? "verified.\n" : "mismatch.\n");
  return verified ? 0 : 1;
}
