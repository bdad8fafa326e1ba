// Entry point of the host program: the process arguments go to the tool as they are.
#include <csignal>
#include <cstdio>

#include <cstdlib>

#include <string>

#include "app/command_line.h"
#include "platform/host/host_bmc.h"
#include "platform/host/host_manufacturers.h"
#include "platform/host/host_report.h"
#include "platform/host/host_signals.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  HostNoteRunStart();
  // Output that cannot be written (tagforge -v ... | head) never stops a write half way.
  signal(SIGPIPE, SIG_IGN);
  // A setting that cannot be read ends the run before the tool starts: a
  // station must not go on with another list of accepted BMCs than it meant.
  std::string error;
  if (!HostReadManufacturerIds(&error)) {
    fprintf(stderr, "tagforge: %s\n", error.c_str());
    return 1;
  }
  // The BMC too: a bad choice, or one that cannot be opened, is said once,
  // before the run. A check never reaches a BMC, and a run that names two
  // modes is refused before anything.
  const TokenList commandLine{argv + 1, argc - 1, argc - 1, argc - 1};
  const RunModeChoice mode = ChooseRunMode(commandLine);
  const bool reachesBmc = mode.refusal == nullptr && mode.mode != RunMode::Check;
  if (argc > 1 && reachesBmc && !HostChooseBmc(&error)) {
    fprintf(stderr, "%s\n", error.c_str());
    // Refused before the run: its record says so, as every run's does.
    const char* lines[] = {error.c_str()};
    PlatformReportRun(
        PlatformRunSummary{-1, "refused", nullptr, 0, nullptr, 0, "unknown", nullptr, 0, -1, 0, nullptr, 1, lines, 1, nullptr, 0,
                           nullptr, 0});
    return 1;
  }
  int status = TagforgeMain(argc, argv);
  fflush(stdout);
  // Asked to end after the last request to a BMC with a session: closed now, then ended as asked.
  if (HostPendingEndingSignal() != 0) {
    HostCloseBmc();
    HostEndBySignal(HostPendingEndingSignal());
  }
  if (getenv("TAGFORGE_SIM_STATS") != nullptr) HostReportBmcCounters(stderr);
  HostReportBmcViolations(stderr);
  return status;
}
