// Entry point of the host program: the process arguments go to the tool as they are.
#include <cstdio>

#include <cstdlib>

#include "platform/host/host_bmc.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  int status = TagforgeMain(argc, argv);
  fflush(stdout);
  if (getenv("TAGFORGE_SIM_STATS") != nullptr) HostReportBmcCounters(stderr);
  return status;
}
