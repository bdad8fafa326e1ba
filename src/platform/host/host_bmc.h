// Host-only control of the one device a run reaches its FRU through, opened
// from TAGFORGE_BMC through the host's device table (host_devices.h), or given
// in-process by a test.
#pragma once

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace sim {
class SimulatedBmc;
}

// Chooses and opens the device from TAGFORGE_BMC; false with the one line to
// print in *error (a bad setting, a node or ports that cannot be opened, the
// ports while the kernel's driver owns them). A run does it once, when it
// reaches its first request (PlatformChooseFruDevice).
bool HostChooseBmc(std::string* error);

// The chosen BMC's one name however TAGFORGE_BMC wrote it ("sim:/abs/path",
// "kernel:/dev/ipmi0", "lan:HOST[:PORT]", "ports"); empty when none was
// chosen from the environment (a BMC given in-process by a test).
const std::string& HostBmcName();
// What a run locks: the BMC itself (a simulated BMC's FRU file by device and
// inode, so that two paths to one file are one FRU); empty as above.
const std::string& HostBmcLockName();

// Closes the device (a LAN session is closed at the BMC) before the process ends otherwise than by returning.
void HostCloseBmc();

// Keeps other programs off the chosen device's FRU until the run ends (see
// HostDevice::HoldForRun); false with the line to print in *problem.
bool HostHoldBmcForRun(bool writes, std::string* problem);

// Makes the given simulated BMC the one the ports and stalls reach (tests);
// null goes back to choosing from the environment on the next location.
void HostUseSimulatedBmc(sim::SimulatedBmc* bmc);

// Makes the given ports the ones the core reaches, with stalls that take no
// time (fuzzing: the device has no clock); null goes back as above.
void HostUsePorts(const PlatformCpuIo* ports);

// One line of the simulated BMC's counters, when one is in use.
void HostReportBmcCounters(FILE* out);
// One line when the simulated BMC saw the host break the KCS protocol.
void HostReportBmcViolations(FILE* out);
