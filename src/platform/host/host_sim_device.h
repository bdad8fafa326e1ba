// The embedded simulated BMC behind the KCS ports: TAGFORGE_BMC=sim (its FRU
// in tagforge-fru.bin) or sim:PATH, or one a test hands in.
#pragma once

#include <memory>

#include "platform/host/host_devices.h"

namespace sim {
class SimulatedBmc;
}

// A simulated BMC the caller keeps (tests, fuzzing, the benchmark): no file of
// its own, so nothing is refused before a write.
std::unique_ptr<HostDevice> HostSimulatedBmcDevice(sim::SimulatedBmc* bmc);
// The simulated BMC behind the device, or null for any other device.
sim::SimulatedBmc* HostSimulationOf(HostDevice* device);
