// The program's one pass from start to exit: banner, usage, validation,
// general options, parameter file, FRU ID, field options, then the BMC.
#include "app/command_line.h"
#include "app/field_walk.h"
#include "app/run_state.h"
#include "app/usage.h"
#include "fields/catalogue.h"
#include "platform/platform.h"
#include "platform/print.h"
#include "runtime/arena.h"
#include "runtime/verbose.h"

namespace {

constinit RunState gRun{};

// Room for the command-line tokens and every line a parameter file can hold.
constexpr int RUN_FILE_TOKENS_MAX = 1024;

int ErrorExit(const char* message) {
  Print("%s", message);
  Print("Return code = 1.\n");
  return 1;
}

void StartRun() {
  ArenaReset();
  ResetFieldCatalogue();
  gVerbose = 0;
  gRun.fruId = RUN_FRU_ID_NOT_SET;
  gRun.clearRequest = false;
  gRun.fieldsGiven = false;
  gRun.inventorySize = 0;
  gRun.newSize = 0;
}

// Steps 3 and 4: the tokens after the program name, checked, and the options
// that only the command line can give.
bool TakeCommandLine(int argc, char** argv) {
  if (!TokenListInit(gRun.tokens, argc - 1 + RUN_FILE_TOKENS_MAX)) return false;
  for (int i = 1; i < argc; ++i) TokenListAppend(gRun.tokens, argv[i]);
  gRun.tokens.commandLineCount = gRun.tokens.count;
  return true;
}

// The BMC steps come with BMC access; until then every run that reaches them
// ends as on a board whose BMC cannot be reached.
int RunBmcSteps() { return ErrorExit("[ERROR] BMC is not accessible.\n"); }

}  // namespace

int TagforgeMain(int argc, char** argv) {
  StartRun();
  PrintBanner();
  if (argc <= 1) {
    PrintUsage();
    return 1;
  }
  if (!TakeCommandLine(argc, argv)) return ErrorExit("[ERROR] Out of memory\n");

  const TokenList commandLine = CommandLineTokens(gRun.tokens);
  const char* unsupported = FindUnsupportedToken(commandLine);
  if (unsupported != nullptr) {
    Print("[ERROR] Unsupported parameter: %s\n", unsupported);
    return 1;
  }
  gRun.clearRequest = OptionPresent("ClearFru=", commandLine) != 0;
  gVerbose = OptionPresent("-v", commandLine);

  const char* idText = OptionValue("id=", gRun.tokens);
  if (idText != nullptr) gRun.fruId = ReadDecimalId(idText);

  FieldWalkResult walk = WalkFieldCatalogue(gRun);
  if (walk == FieldWalkResult::Failed) return 1;
  if (ArenaExhausted()) return ErrorExit("[ERROR] Out of memory\n");
  if (walk == FieldWalkResult::Mismatch) gRun.fieldsGiven = true;

  if (gRun.fruId == RUN_FRU_ID_NOT_SET) return ErrorExit("[ERROR] FRU ID is not set\n");
  return RunBmcSteps();
}
