// The program's one pass from start to exit: banner, usage, validation,
// general options, parameter file, FRU ID, field options, then the BMC.
#include "app/driver.h"

#include "app/command_line.h"
#include "app/dry_run.h"
#include "app/field_walk.h"
#include "app/fru_verify.h"
#include "app/parameter_file.h"
#include "app/run_report.h"
#include "app/run_state.h"
#include "app/usage.h"
#include "app/write_check.h"
#include "bmc/fru_access.h"
#include "bmc/fru_journal.h"
#include "bmc/fru_storage.h"
#include "bmc/fru_update.h"
#include "fields/catalogue.h"
#include "fru/fru_display.h"
#include "fru/fru_format.h"
#include "fru/fru_lint.h"
#include "fru/image_rebuild.h"
#include "platform/platform.h"
#include "platform/print.h"
#include "runtime/arena.h"
#include "runtime/text.h"
#include "runtime/verbose.h"

namespace {

constinit RunState gRun{};

// Room for the command-line tokens and every line a parameter file can hold.
constexpr int RUN_FILE_TOKENS_MAX = 1024;

// What the steps before the BMC return when the run goes on to the BMC.
constexpr int RUN_GOES_ON = -1;

// The option an in-process check runs its tokens under.
char gCheckOption[] = "--check";

// The end of every failed run whose message has been printed.
int FailRun() {
  Print("Return code = 1.\n");
  return 1;
}

int ErrorExit(const char* message) {
  Print("%s", message);
  return FailRun();
}

// The command-line tokens (first, when given, ahead of them), with room
// behind them for the lines of a parameter file.
bool TakeCommandLine(int count, char** tokens, char* first) {
  if (!TokenListInit(gRun.tokens, count + 1 + RUN_FILE_TOKENS_MAX)) return false;
  if (first != nullptr) TokenListAppend(gRun.tokens, first);
  for (int i = 0; i < count; ++i) TokenListAppend(gRun.tokens, tokens[i]);
  gRun.tokens.commandLineCount = gRun.tokens.count;
  return true;
}

// From here to the end of the run a signal only marks the run interrupted (the
// write stops at a chunk boundary and is undone), and the journal holds what
// the FRU held and what is written, so that a kill is undone by the next run.
bool BeginWrite(size_t newSize) {
  PlatformHoldInterruptions();
  return RecordFruJournal(&gRun.journal, gRun.access.device, gRun.original, gRun.inventorySize, gRun.newImage, newSize);
}

// What the report may say the FRU holds once a write has ended. After one that
// did not end verified, only a fresh read can say it, and only while the BMC
// still answers.
void NoteWriteEnd(FruWriteOutcome outcome, const uint8_t* written, size_t writtenSize) {
  switch (outcome) {
    case FruWriteOutcome::Written:
      gRun.finalImage = written;
      gRun.finalSize = writtenSize;
      gRun.fieldsFrom = "written";
      return;
    case FruWriteOutcome::Restored:
      gRun.fieldsFrom = CountTouched(gRun.touched, gRun.inventorySize) > 0 ? "restored" : "read";
      return;
    case FruWriteOutcome::Unsettled:
      break;
  }
  gRun.finalImage = nullptr;
  gRun.fieldsFrom = "unknown";
  // A BMC that stores later shows its cache, or the image from before a store
  // for a while after it: a read now cannot say what it holds.
  if (gRun.access.device.storesLater) return;
  // Given up on: another read would only wait out its bounds again.
  const PlatformFruDevice& device = *gRun.access.device.ops;
  if (!device.Answering(device.context)) return;
  if (!ReadFruImage(gRun.access.device, gRun.fruId, gRun.inventorySize, gRun.readBack, FruReadErrors::Quiet)) return;
  gRun.finalImage = gRun.readBack;
  gRun.finalSize = gRun.inventorySize;
  gRun.fieldsFrom = "read back";
}

// A batch file's line is checked as a command-line token would be: a typo that
// passed silently would ship every board of the batch without that value.
// The options only the command line takes are said to be ignored, not dropped unseen.
bool CheckParameterFileLines() {
  for (int i = gRun.tokens.commandLineCount; i < gRun.tokens.count; ++i) {
    const char* line = gRun.tokens.items[i];
    if (IsIgnoredInParameterFile(line)) {
      Print("Ignored in a parameter file: %s\n", line);
      continue;
    }
    const TokenList one{&gRun.tokens.items[i], 1, 1, 1};
    if (FindUnsupportedToken(one) != nullptr) {
      Print("[ERROR] Unsupported parameter: %s\n", line);
      return false;
    }
  }
  return true;
}

// A device that is not a BMC's own FRU (an image file, an EEPROM) is never
// overwritten when it holds something else than FRU data or a blank part: a
// mistyped path must not wipe a key or another chip.
bool RefusedByDevice(bool clearing) {
  const bool holdsFru = HoldsFruDataOrBlank(gRun.original, gRun.inventorySize);
  const char* line = clearing ? FruClearRefusal(gRun.access, holdsFru) : FruWriteRefusal(gRun.access, holdsFru);
  if (line == nullptr) return false;
  Print("%s\n", line);
  return true;
}

// A dry run's clear, after its listing: what the zeros would change. A
// listing without a clear would write nothing.
int DryRunClear() {
  int status = 0;
  if (!gRun.clearRequest) {
    ShowDryRunWrite(gRun, gRun.original, gRun.inventorySize, gRun.original);
  } else if (RefusedByDevice(true)) {
    status = 1;
  } else {
    FillBytes(gRun.newImage, 0, gRun.inventorySize);
    ShowDryRunWrite(gRun, gRun.newImage, gRun.inventorySize, gRun.newImage);
  }
  EndDryRun();
  return status;
}

// How an edit ends that is not written: a dry run says that nothing was, in
// place of the line a run ends its failures with.
int EditNotWritten(bool returnCodeLine) {
  if (gRun.mode == RunMode::DryRun) {
    EndDryRun();
    return 1;
  }
  return returnCodeLine ? FailRun() : 1;
}

// A dry run's edit, once the new image passed every check: what it would change.
int DryRunEdit() {
  ShowDryRunWrite(gRun, gRun.newImage, gRun.newSize, gRun.afterWrite);
  for (int i = 0; i < gRun.missedCount; ++i) Print("[ERROR] %s would not be written\n", gRun.missed[i]->Name);
  EndDryRun();
  return gRun.missedCount == 0 ? 0 : 1;
}

// Listing mode: the dump and the fields, then the clear when asked for.
int ListFru() {
  DumpHex(gRun.image, gRun.inventorySize);
  ShowFru(gRun.image, gRun.inventorySize, gFieldCatalogue.rows, FIELD_COUNT);
  LintFru(gRun.image, gRun.inventorySize, &gRun.lint);
  gRun.linted = true;
  ShowFruLint(gRun.lint, gFieldCatalogue.rows, FIELD_COUNT);
  if (gRun.mode == RunMode::DryRun) return DryRunClear();
  // A clear is what repairs a FRU that fails the lint: it is never refused.
  if (!gRun.clearRequest) return 0;
  if (RefusedByDevice(true)) return FailRun();
  gRun.writeAttempted = true;
  FillBytes(gRun.newImage, 0, gRun.inventorySize);
  if (!BeginWrite(gRun.inventorySize)) return FailRun();
  const FruWriteOutcome outcome =
      ClearFruData(gRun.access.device, gRun.fruId, gRun.inventorySize, gRun.original, gRun.readBack,
                   gRun.newImage, &gRun.touched, gRun.options.write);
  CloseFruJournal(&gRun.journal, outcome);
  NoteWriteEnd(outcome, gRun.newImage, gRun.inventorySize);
  // What the lint said of the FRU as read no longer describes a cleared one.
  if (outcome == FruWriteOutcome::Written) gRun.linted = false;
  return outcome == FruWriteOutcome::Written ? 0 : 1;
}

bool AnyRowGiven() {
  for (const FieldEntry& row : gFieldCatalogue.rows) {
    if (row.Size != FIELD_SIZE_NOT_GIVEN) return true;
  }
  return false;
}

// Edit mode: the given fields into a new image, written when it fits.
int EditFru() {
  if (!AnyRowGiven()) {
    // The first field scanned did not match: nothing was built to be written.
    Print("[ERROR] No field has a value to write\n");
    return EditNotWritten(true);
  }
  if (RefusedByDevice(false)) return EditNotWritten(true);
  if (!CheckFruAsRead(gRun, gFieldCatalogue.rows, FIELD_COUNT)) return EditNotWritten(false);
  FruEditResult edit =
      EditFruImage(gRun.image, gRun.inventorySize, gFieldCatalogue.rows, FIELD_COUNT, gRun.newImage, gRun.rebuild);
  gRun.newSize = edit.newSize;
  switch (edit.outcome) {
    case FruEditOutcome::Refused:
      return EditNotWritten(true);
    case FruEditOutcome::OverCapacity:
      Print("error.\n");
      return EditNotWritten(false);
    case FruEditOutcome::NothingToWrite:
      // No field produced an image: there is nothing that could be written.
      if (gRun.mode != RunMode::DryRun) Print("Write FRU data %d bytes\n", 0);
      Print("error.\n");
      return EditNotWritten(false);
    case FruEditOutcome::ImageReady:
      break;
  }
  // Warnings come before the write, so that "done." stays the last line.
  if (!CheckEditBeforeWrite(gRun, gFieldCatalogue.rows, FIELD_COUNT)) return EditNotWritten(false);
  if (gRun.mode == RunMode::DryRun) return DryRunEdit();
  Print("Write FRU data %d bytes\n", static_cast<int>(gRun.newSize));
  gRun.writeAttempted = true;
  if (!BeginWrite(gRun.newSize)) return FailRun();
  FruWriteOptions write = gRun.options.write;
  write.originalSize = gRun.inventorySize;
  const FruWriteOutcome outcome = UpdateFruData(gRun.access.device, gRun.fruId, gRun.newImage, gRun.newSize,
                                                gRun.original, gRun.readBack, &gRun.touched, write);
  CloseFruJournal(&gRun.journal, outcome);
  NoteWriteEnd(outcome, gRun.newImage, gRun.newSize);
  const bool written = outcome == FruWriteOutcome::Written;
  Print(written ? "done.\n" : "error.\n");
  if (!written) return 1;
  if (gRun.missedCount == 0) return 0;
  // "done." covers what was written; the last lines say what was not.
  for (int i = 0; i < gRun.missedCount; ++i) Print("[ERROR] %s was not written\n", gRun.missed[i]->Name);
  return FailRun();
}

// The BMC's part of the run: nothing reaches the BMC before the command line,
// the parameter file and every scan have been taken.
int RunBmcSteps() {
  // Held before the first request: a second run on this FRU must not even read it half written.
  const bool writes = gRun.mode == RunMode::Normal && (gRun.fieldsGiven || gRun.clearRequest);
  NoteRunSoFar(gRun);
  // The journal and the lock belong to the device: it is chosen first.
  if (PlatformIsError(PlatformChooseFruDevice())) {
    gRun.deviceRefused = true;
    return FailRun();
  }
  if (!OpenFruJournal(&gRun.journal, gRun.fruId, writes)) return FailRun();
  OpenFruAccess(&gRun.access, gRun.options.access);
  FruDevice& device = gRun.access.device;
  if (!IdentifyFruDevice(device, &gRun.journal.bmc)) return FailRun();
  if (!GetFruInventorySize(device, gRun.fruId, &gRun.inventorySize)) return FailRun();
  if (gRun.inventorySize > FRU_IMAGE_MAX) {
    Print("[ERROR] FRU inventory size %d bytes is larger than the %d bytes this tool can hold\n",
          gRun.inventorySize, static_cast<int>(FRU_IMAGE_MAX));
    return FailRun();
  }
  if (!ReadFruImage(device, gRun.fruId, gRun.inventorySize, gRun.image, FruReadErrors::Print, FruReadSizes::Growing)) {
    return FailRun();
  }
  if (gRun.mode != RunMode::Normal) {
    // Settling an entry writes the FRU or the journal: a run that never writes leaves that to one that may.
    if (FruJournalHasEntry(&gRun.journal)) {
      Print("[ERROR] An interrupted run left a journal entry for this FRU: a listing or an edit will repair the "
            "FRU first; nothing was written\n");
      return EditNotWritten(true);
    }
  } else if (!SettleFruJournal(&gRun.journal, device, gRun.fruId, gRun.image, gRun.inventorySize, gRun.readBack,
                               &gRun.touched)) {
    return FailRun();
  }
  // The editing works on the image in place; this copy is what a broken-off write puts back.
  CopyBytes(gRun.original, gRun.image, gRun.inventorySize);
  gRun.finalImage = gRun.original;
  gRun.finalSize = gRun.inventorySize;
  gRun.fieldsFrom = "read";
  if (gRun.mode == RunMode::Verify) return VerifyFru(gRun);
  return gRun.fieldsGiven ? EditFru() : ListFru();
}

// A check ends where a run would send its first request: the rows that run
// would leave unwritten are known by now.
int CheckPassed() {
  if (gRun.missedCount > 0) {
    for (int i = 0; i < gRun.missedCount; ++i) Print("[ERROR] %s would not be written\n", gRun.missed[i]->Name);
    return FailRun();
  }
  Print("check passed.\n");
  return 0;
}

// Everything a run does before its first request to the BMC: the mode, the
// command line, the parameter file, the FRU ID and the field values. The
// status when the run ends here (a check always does), else RUN_GOES_ON.
int TakeRunTokens() {
  const TokenList commandLine = CommandLineTokens(gRun.tokens);
  const RunModeChoice choice = ChooseRunMode(commandLine);
  gRun.mode = choice.mode;
  if (choice.refusal != nullptr) {
    Print("%s\n", choice.refusal);
    return 1;
  }
  const char* unsupported = FindUnsupportedToken(commandLine);
  if (unsupported != nullptr) {
    Print("[ERROR] Unsupported parameter: %s\n", unsupported);
    return 1;
  }
  // ClearFru=0 reads as "do not clear", so it does not.
  const char* clear = OptionValue("ClearFru=", commandLine);
  gRun.clearRequest = clear != nullptr && !TextEqual(clear, "0");
  gVerbose = OptionPresent("-v", commandLine);

  if (ReadParameterFile(gRun.tokens) == ParameterFileResult::Failed) return FailRun();
  if (!CheckParameterFileLines()) return 1;

  const char* idText = OptionValue("id=", gRun.tokens);
  if (idText != nullptr && !IsFruIdText(idText)) {
    Print("[ERROR] FRU ID must be a number from 0 to 255, not \"%s\"\n", idText);
    return FailRun();
  }
  if (idText != nullptr) gRun.fruId = ReadDecimalId(idText);
  NoteRunSoFar(gRun);  // the scanner may wait next

  FieldWalkResult walk = WalkFieldCatalogue(gRun);
  if (walk == FieldWalkResult::Failed) return FailRun();
  if (ArenaExhausted()) return ErrorExit("[ERROR] Out of memory\n");

  if (gRun.fruId == RUN_FRU_ID_NOT_SET) return ErrorExit("[ERROR] FRU ID is not set\n");
  if (gRun.mode == RunMode::Check) return CheckPassed();
  return RUN_GOES_ON;
}

int RunTool(int argc, char** argv) {
  PrintBanner();
  if (argc <= 1) {
    PrintUsage();
    return 1;
  }
  if (!TakeCommandLine(argc - 1, argv + 1, nullptr)) return ErrorExit("[ERROR] Out of memory\n");
  const int status = TakeRunTokens();
  return status != RUN_GOES_ON ? status : RunBmcSteps();
}

}  // namespace

// Every run ends here, whatever the outcome, so that its report is made once.
int TagforgeRun(int argc, char** argv, const RunOptions& options) {
  AttachConsole();
  StartRun(&gRun);
  gRun.options = options;
  NoteRunSoFar(gRun);
  const int status = RunTool(argc, argv);
  ReportRun(gRun, argc <= 1, status);
  return status;
}

int TagforgeMain(int argc, char** argv) { return TagforgeRun(argc, argv, RunOptions{}); }

int TagforgeCheck(int count, char** tokens) {
  AttachConsole();
  StartRun(&gRun);
  if (!TakeCommandLine(count, tokens, gCheckOption)) return ErrorExit("[ERROR] Out of memory\n");
  return TakeRunTokens();
}
