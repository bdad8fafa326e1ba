#include "app/run_state.h"

#include "platform/print.h"
#include "runtime/arena.h"
#include "runtime/verbose.h"

void StartRun(RunState* run) {
  ArenaReset();
  ResetFieldCatalogue();
  gVerbose = 0;
  ForgetConsoleErrorLines();
  if (run == nullptr) return;
  run->options = RunOptions{};
  run->mode = RunMode::Normal;
  run->dateExpectedSet = false;
  run->verifyCount = 0;
  run->fruId = RUN_FRU_ID_NOT_SET;
  run->clearRequest = false;
  run->fieldsGiven = false;
  run->missedCount = 0;
  run->inventorySize = 0;
  run->newSize = 0;
  run->finalImage = nullptr;
  run->fieldsFrom = "unknown";
  run->finalSize = 0;
  run->writeAttempted = false;
  run->deviceRefused = false;
  run->journal.settled = nullptr;
  run->journal.restoredBytes = 0;
  run->linted = false;
  ClearFruLint(&run->lint);
}
