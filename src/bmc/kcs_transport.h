// The KCS system interface at the CPU I/O ports as an IPMI transport: one
// request framed into the interface's request buffer, the answer taken from
// its response buffer. The firmware's only transport; the host's simulated
// BMC and real ports use it too.
#pragma once

#include "bmc/kcs_transfer.h"
#include "platform/platform.h"

struct KcsTransport {
  KcsInterface kcs;
  PlatformIpmiTransport transport;
};

// Makes transport send through kcs, waiting on the given schedule.
void OpenKcsTransport(KcsTransport* kcs, KcsWaitSchedule waits);
