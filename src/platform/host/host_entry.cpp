// Entry point of the host program: the process arguments go to the tool as
// they are, but for the host's own options (--help, --version, --json).
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/host/host_bmc.h"
#include "platform/host/host_options.h"
#include "platform/host/host_report.h"
#include "platform/host/host_signals.h"
#include "platform/platform.h"

#ifdef TAGFORGE_STATIC_BINARY
constexpr bool HOST_STATIC_BINARY = true;
#else
constexpr bool HOST_STATIC_BINARY = false;
#endif

int main(int argc, char** argv) {
  HostNoteRunStart();
  // A line at a time even into a file or a pipe: a run that a signal ends
  // leaves its log as far as it got (a station's log of a killed board), not
  // an empty one that reads as "nothing was sent".
  setvbuf(stdout, nullptr, _IOLBF, 0);
  // Output that cannot be written (tagforge -v ... | head) never stops a write half way.
  signal(SIGPIPE, SIG_IGN);
  HostOptions options = HostTakeOptions(argc, argv);
  if (options.help) return HostPrintHelp();
  if (options.version) return HostPrintVersion(HOST_STATIC_BINARY);
  if (options.json) HostUseJsonOutput();
  // The device is chosen when the run reaches its first request
  // (PlatformChooseFruDevice): the usage, the tokens and the values come first.
  const int status = TagforgeMain(options.count, options.args.data());
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
