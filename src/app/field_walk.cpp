#include "app/field_walk.h"

#include "app/command_line.h"
#include "app/scanner.h"
#include "app/value_forms.h"
#include "fields/catalogue.h"
#include "fru/fru_display.h"
#include "fru/fru_format.h"
#include "runtime/print.h"
#include "runtime/arena.h"
#include "runtime/text.h"

namespace {

void NoteMissedRow(const FieldEntry& row, RunState& run) {
  if (run.missedCount < FIELD_COUNT) run.missed[run.missedCount++] = &row;
}

void PrintSizeError() { Print("[ERROR] Parameter size > %d bytes\n", FIELD_VALUE_MAX); }

// A one-byte text field would be written as the type/length byte 0xC1, which
// readers take for the end of the area's fields: that field and every one
// after it would vanish from the board.
bool IsUnstorableOneByteText(const FieldEntry& row) {
  return row.Size == 1 && (row.Type & FRU_TYPE_MASK) == FRU_TYPE_TEXT && !IsFixedField(row.Area, row.Entry);
}

// The tail every given row shares: note it, show it, check its size.
FieldWalkResult FinishGivenRow(const FieldEntry& row, RunState& run) {
  run.fieldsGiven = true;
  if (row.Size >= 1) ShowField(row);
  if (row.Size > FIELD_VALUE_MAX) {
    PrintSizeError();
    return FieldWalkResult::Failed;
  }
  if (IsUnstorableOneByteText(row)) {
    Print("[ERROR] %s: a one-character text field cannot be stored (its type/length byte would be 0xC1, "
          "the end-of-fields marker)\n",
          row.Keyword);
    return FieldWalkResult::Failed;
  }
  return FieldWalkResult::Completed;
}

// BDT alone under --verify: a date that is set is expected, whatever it is.
bool ExpectsSetDate(const FieldEntry& row, const char* rest, const RunState& run) {
  return run.mode == RunMode::Verify && IsMfgDateRow(row) && FindChar(rest, '=') == nullptr;
}

// A row that a token names: its handler first, then the generic value forms.
FieldWalkResult TakeMatchedRow(FieldEntry& row, const char* rest, RunState& run) {
  if (ExpectsSetDate(row, rest, run)) {
    run.fieldsGiven = true;
    run.dateExpectedSet = true;
    return FieldWalkResult::Completed;
  }
  if (row.Handler != nullptr) {
    int32_t result = row.Handler(rest, &row);
    if (result == FIELD_HANDLER_FAILED) return FieldWalkResult::Failed;
    if (result != FIELD_HANDLER_DECLINED) {
      if (row.Size == FIELD_SIZE_NOT_GIVEN) {
        // The handler found nothing to set (no board name in SMBIOS): a field
        // was asked for, so the run edits, but it did not do all it was asked.
        run.fieldsGiven = true;
        NoteMissedRow(row, run);
        return FieldWalkResult::Completed;
      }
      return FinishGivenRow(row, run);
    }
  }
  const char* valueText = TextAfter(rest, '=');
  if (ArenaExhausted()) {
    // Never take a lost copy for a missing "=" (and prompt the scanner).
    Print("[ERROR] Out of memory\n");
    return FieldWalkResult::Failed;
  }
  const char* prefixSource = rest;
  char scanned[SCANNER_BUFFER_SIZE];
  if (valueText == nullptr) {
    if (run.mode == RunMode::Check) {
      Print("[ERROR] %s without a value asks the bar-code scanner, which a check does not: give %s=VALUE\n", row.Keyword,
            row.Keyword);
      return FieldWalkResult::Failed;
    }
    // A verify compares what was scanned once: a label is checked as it reads.
    const ScanTrials trials = run.mode == RunMode::Verify ? ScanTrials::Once : ScanTrials::Twice;
    if (ScanValue(row, rest, scanned, trials) == ScanResult::Mismatch) {
      run.fieldsGiven = true;
      NoteMissedRow(row, run);
      return FieldWalkResult::Mismatch;
    }
    valueText = scanned;
    prefixSource = scanned;
  }
  if (ReadValueText(row, valueText, prefixSource) == ValueReadResult::TooLarge) {
    run.fieldsGiven = true;
    PrintSizeError();
    return FieldWalkResult::Failed;
  }
  return FinishGivenRow(row, run);
}

}  // namespace

const char* FindRowRest(const FieldEntry& row, const TokenList& tokens) {
  const char* rest = OptionValue(row.Keyword, tokens);
  if (rest == nullptr && row.AliasName != nullptr) rest = OptionValue(row.AliasKeyword, tokens);
  return rest;
}

FieldWalkResult WalkFieldCatalogue(RunState& run) {
  FieldWalkResult result = FieldWalkResult::Completed;
  for (FieldEntry& row : gFieldCatalogue.rows) {
    const char* rest = FindRowRest(row, run.tokens);
    if (rest == nullptr) continue;
    if (result == FieldWalkResult::Mismatch) {
      // After a scan that did not match the rows are not taken (no more
      // prompts), but the operator asked for them: they are not written.
      NoteMissedRow(row, run);
      continue;
    }
    result = TakeMatchedRow(row, rest, run);
    if (result == FieldWalkResult::Failed) return result;
  }
  return result;
}
