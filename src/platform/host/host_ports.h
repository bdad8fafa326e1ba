// The KCS interface at CPU I/O ports 0xCA2/0xCA3: the machine's real ones
// (TAGFORGE_BMC=ports), or ports a caller hands in (fuzzing).
#pragma once

#include <memory>

#include "platform/host/host_devices.h"

// The given ports, with stalls that take no time (the fuzzed device has no clock).
std::unique_ptr<HostDevice> HostGivenPortsDevice(const PlatformCpuIo* ports);
