#include "app/dry_run.h"

#include "app/fru_verify.h"
#include "bmc/fru_update.h"
#include "fields/catalogue.h"
#include "fru/fru_display.h"
#include "runtime/print.h"

void ShowDryRunWrite(RunState& run, const uint8_t* written, size_t writtenSize, const uint8_t* after) {
  run.held = FIELD_CATALOGUE_INITIAL;
  run.after = FIELD_CATALOGUE_INITIAL;
  LoadFruFields(run.original, run.inventorySize, run.held.rows, FIELD_COUNT, false);
  LoadFruFields(after, run.inventorySize, run.after.rows, FIELD_COUNT, false);
  char before[RUN_VALUE_TEXT_MAX];
  char now[RUN_VALUE_TEXT_MAX];
  for (int r = 0; r < FIELD_COUNT; ++r) {
    const FieldEntry& held = run.held.rows[r];
    const FieldEntry& changed = run.after.rows[r];
    if (SameFieldValue(held, changed)) continue;
    ShowValueText(held, before);
    ShowValueText(changed, now);
    Print("%s: %s -> %s\n", held.Name, before, now);
  }
  const FruWritePlan plan = PlanFruWrite(written, writtenSize, run.original, run.options.write);
  Print("Would write %u bytes in %u chunks of the %u-byte inventory\n", static_cast<unsigned>(plan.bytes),
        static_cast<unsigned>(plan.chunks), static_cast<unsigned>(run.inventorySize));
}

void EndDryRun() { Print("dry run: nothing written.\n"); }
