#include "app/run_report.h"

#include "app/field_walk.h"
#include "bmc/fru_update.h"
#include "fields/catalogue.h"
#include "fru/fru_display.h"
#include "fru/fru_format.h"
#include "fru/fru_lint.h"
#include "platform/platform.h"
#include "platform/print.h"
#include "runtime/text.h"

namespace {

const char* Mode(const RunState& run, bool usage) {
  if (usage) return "usage";
  if (run.deviceRefused) return "refused";
  switch (run.mode) {
    case RunMode::Check:
      return "check";
    case RunMode::Verify:
      return "verify";
    case RunMode::DryRun:
      return "dry-run";
    case RunMode::Normal:
      break;
  }
  if (run.fieldsGiven) return "edit";
  return run.clearRequest ? "clear" : "listing";
}

bool WasMissed(const RunState& run, const FieldEntry& row) {
  for (int i = 0; i < run.missedCount; ++i) {
    if (run.missed[i] == &row) return true;
  }
  return false;
}

PlatformReportField ReportField(const FieldEntry& row) {
  const bool fixed = IsFixedField(row.Area, row.Entry);
  const bool text = (row.Type & FRU_TYPE_MASK) == FRU_TYPE_TEXT && !fixed;
  return PlatformReportField{row.Keyword, row.Name, row.Data, row.Size, text, fixed && row.Area == FRU_AREA_BOARD};
}

using SummaryTaker = void (*)(const PlatformRunSummary& summary);

void HandSummary(const RunState& run, bool usage, int status, SummaryTaker take) {
  const char* keywords[FIELD_COUNT];
  PlatformReportField requested[FIELD_COUNT];
  int keywordCount = 0;
  int requestedCount = 0;
  // Only an edit asks for fields (a listing loads the rows it shows into the catalogue).
  for (const FieldEntry& row : gFieldCatalogue.rows) {
    if (!run.fieldsGiven) break;
    const bool dateExpected = run.dateExpectedSet && IsMfgDateRow(row);
    if (row.Size != FIELD_SIZE_NOT_GIVEN || WasMissed(run, row) || dateExpected) keywords[keywordCount++] = row.Keyword;
    if (row.Size != FIELD_SIZE_NOT_GIVEN) requested[requestedCount++] = ReportField(row);
  }
  // The fields as a listing of the final image would show them, loaded without a trace.
  PlatformReportField fields[FIELD_COUNT];
  int fieldCount = 0;
  FieldCatalogue rows = FIELD_CATALOGUE_INITIAL;
  if (run.finalImage != nullptr) {
    LoadFruFields(run.finalImage, run.finalSize, rows.rows, FIELD_COUNT, false);
    for (const FieldEntry& row : rows.rows) {
      if (row.Size > 0) fields[fieldCount++] = ReportField(row);
    }
  }
  const char* errors[CONSOLE_ERROR_LINES_MAX];
  const int errorCount = ConsoleErrorLineCount();
  for (int i = 0; i < errorCount; ++i) errors[i] = ConsoleErrorLine(i);
  PlatformLintFinding lint[FRU_LINT_FINDINGS_MAX];
  char lintTexts[FRU_LINT_FINDINGS_MAX][FRU_LINT_LINE_MAX];
  const int lintCount = run.linted ? run.lint.count : 0;
  for (int i = 0; i < lintCount; ++i) {
    const FruLintFinding& finding = run.lint.findings[i];
    // The text without the place, which the record gives on its own.
    char line[FRU_LINT_LINE_MAX];
    FormatFruLintFinding(finding, gFieldCatalogue.rows, FIELD_COUNT, line, sizeof(line));
    const char* text = line + TextLength(FruLintPlaceName(finding.place)) + 2;
    CopyBytes(lintTexts[i], text, TextLength(text) + 1);
    lint[i] = PlatformLintFinding{FruLintLevelOf(finding) == FruLintLevel::Error ? "error" : "warning",
                                  FruLintPlaceName(finding.place), finding.offset, lintTexts[i]};
  }
  // A verify that failed before it compared anything still says it compared nothing.
  PlatformVerifyField verify[RUN_VERIFY_LINES_MAX];
  for (int i = 0; i < run.verifyCount; ++i) {
    const VerifyLine& line = run.verify[i];
    verify[i] = PlatformVerifyField{line.keyword, line.name, line.ok, line.found, line.expected};
  }
  const PlatformRunSummary summary{
      run.fruId,
      Mode(run, usage),
      keywords,
      keywordCount,
      requested,
      requestedCount,
      run.finalImage != nullptr ? run.fieldsFrom : "unknown",
      run.finalImage != nullptr ? fields : nullptr,
      fieldCount,
      run.inventorySize > 0 ? static_cast<int32_t>(run.inventorySize) : -1,
      static_cast<uint32_t>(run.journal.restoredBytes +
                            (run.writeAttempted ? CountAccepted(run.touched, run.inventorySize) : 0)),
      run.journal.settled,
      status,
      errors,
      errorCount,
      lint,
      lintCount,
      run.mode == RunMode::Verify && !usage ? verify : nullptr,
      run.verifyCount,
  };
  take(summary);
}

}  // namespace

void ReportRun(const RunState& run, bool usage, int status) { HandSummary(run, usage, status, PlatformReportRun); }

void NoteRunSoFar(const RunState& run) { HandSummary(run, false, 1, PlatformNoteRunSoFar); }
