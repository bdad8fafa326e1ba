#include "app/write_check.h"

#include "fru/fru_display.h"
#include "fru/fru_format.h"
#include "fru/fru_lint.h"
#include "runtime/print.h"
#include "runtime/text.h"

namespace {

bool IsAreaRebuilt(uint8_t place, const FieldEntry* rows, int rowCount) {
  if (!IsInfoArea(place)) return false;
  for (int r = 0; r < rowCount; ++r) {
    if (rows[r].Size != FIELD_SIZE_NOT_GIVEN && rows[r].Area == place) return true;
  }
  return false;
}

void Keep(FruLintReport& kept, const FruLintFinding& finding) {
  if (kept.count == FRU_LINT_FINDINGS_MAX) {
    ++kept.dropped;
    return;
  }
  kept.findings[kept.count++] = finding;
  if (FruLintLevelOf(finding) == FruLintLevel::Error) ++kept.errorCount;
}

void Refuse(const FruLintFinding& finding, const FieldEntry* rows, int rowCount, const char* note) {
  char line[FRU_LINT_LINE_MAX];
  FormatFruLintFinding(finding, rows, rowCount, line, sizeof(line));
  Print("[ERROR] The FRU would not be valid: %s%s\n", line, note);
}

}  // namespace

bool CheckFruAsRead(RunState& run, const FieldEntry* rows, int rowCount) {
  ClearFruLint(&run.lint);
  run.linted = true;
  // A header rebuilt on a blank FRU takes nothing of what was read. Otherwise
  // every area read is either carried over or rebuilt from its fields, and a
  // rebuild gives a damaged area a fresh checksum: the new image alone would
  // not show it.
  if (!IsCommonHeaderValid(run.original)) return true;
  LintFru(run.original, run.inventorySize, &run.lintRead);
  if (run.lintRead.errorCount == 0) return true;
  for (int i = 0; i < run.lintRead.count; ++i) {
    const FruLintFinding& finding = run.lintRead.findings[i];
    if (FruLintLevelOf(finding) != FruLintLevel::Error) continue;
    Refuse(finding, rows, rowCount,
           IsAreaRebuilt(finding.place, rows, rowCount)
               ? " (damaged before this run: the edit would rebuild the area from it)"
               : " (damaged before this run, in a part this edit does not change)");
    Keep(run.lint, finding);
  }
  Print("To repair it: ClearFru=1, then this batch's values again (the clear erases every area, the MultiRecord "
        "Area included: save the listing first), or an image written whole through the image-file device\n");
  Print("error.\n");
  return false;
}

bool CheckEditBeforeWrite(RunState& run, const FieldEntry* rows, int rowCount) {
  const size_t inventory = run.inventorySize;
  // What the FRU holds once the write is done: the new image, and beyond it
  // the bytes the write leaves alone.
  CopyBytes(run.afterWrite, run.newImage, run.newSize);
  CopyBytes(run.afterWrite + run.newSize, run.original + run.newSize, inventory - run.newSize);
  LintFru(run.afterWrite, inventory, &run.lintAfter);
  ClearFruLint(&run.lint);
  const bool sound = run.lintAfter.errorCount == 0;
  char line[FRU_LINT_LINE_MAX];
  for (int i = 0; i < run.lintAfter.count; ++i) {
    const FruLintFinding& finding = run.lintAfter.findings[i];
    const bool error = FruLintLevelOf(finding) == FruLintLevel::Error;
    // A refused write names its errors only; a write names the warnings it leaves.
    if (sound == error) continue;
    FormatFruLintFinding(finding, rows, rowCount, line, sizeof(line));
    if (error) {
      Print("[ERROR] The FRU would not be valid: %s\n", line);
    } else {
      Print("[WARN] %s\n", line);
    }
    Keep(run.lint, finding);
  }
  if (sound) return true;
  Print("error.\n");
  return false;
}
