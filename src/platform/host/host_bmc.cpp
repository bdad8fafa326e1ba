// The device of the host build, opened once from TAGFORGE_BMC through the
// device table (or given in-process), and the platform's lookups that reach it.
#include "platform/host/host_bmc.h"

#include <time.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/host/host_bmc_choice.h"
#include "platform/host/host_console.h"
#include "platform/host/host_device_parts.h"
#include "platform/host/host_devices.h"
#include "platform/host/host_manufacturers.h"
#include "platform/host/host_ports.h"
#include "platform/host/host_sim_device.h"
#include "platform/platform.h"
#include "simulated_bmc.h"

namespace {

std::unique_ptr<HostDevice> gDevice;
// Set once a device was chosen or given, so that a failure is said once, not at every access.
bool gChosen = false;
// The device as the environment named it, normalised; empty for one given in-process.
std::string gBmcName;
// What the lock of a run is taken on: the device itself, however it was reached.
std::string gBmcLockName;

void Forget() {
  gDevice.reset();
  gBmcName.clear();
  gBmcLockName.clear();
  gChosen = false;
}

// A library user that did not choose (a test, a fuzz target) gets the choice
// from the environment on first use; its failure is printed here, once.
void ChooseLazily() {
  if (gChosen) return;
  std::string error;
  if (!HostChooseBmc(&error)) HostFailureLine(error);
}

}  // namespace

bool HostChooseBmc(std::string* error) {
  Forget();
  gChosen = true;
  HostOpened opened;
  if (!HostOpenDevice(getenv("TAGFORGE_BMC"), HostRoots{}, &opened, error)) return false;
  if (!opened.notice.empty()) fprintf(stderr, "%s\n", opened.notice.c_str());
  gDevice = std::move(opened.device);
  gBmcName = opened.name;
  gBmcLockName = opened.lockName.empty() ? opened.name : opened.lockName;
  return true;
}

const std::string& HostBmcName() { return gBmcName; }

const std::string& HostBmcLockName() { return gBmcLockName; }

void HostCloseBmc() { Forget(); }

bool HostHoldBmcForRun(bool writes, std::string* problem) {
  return gDevice == nullptr || gDevice->HoldForRun(writes, problem);
}

// Asked while the field values are taken, before the device is opened: the
// setting's own row says whether this machine's SMBIOS describes the board.
const char* PlatformRemoteBmcName() {
  if (gDevice != nullptr) return gDevice->Remote() ? gBmcName.c_str() : nullptr;
  static std::string setting;
  const char* named = getenv("TAGFORGE_BMC");
  const HostDeviceRow* row = HostDeviceRowOf(named);
  if (row == nullptr || !row->remote) return nullptr;
  setting = named;
  return setting.c_str();
}

void HostUseSimulatedBmc(sim::SimulatedBmc* bmc) {
  Forget();
  if (bmc == nullptr) return;
  gDevice = HostSimulatedBmcDevice(bmc);
  gChosen = true;
}

void HostUsePorts(const PlatformCpuIo* ports) {
  Forget();
  if (ports == nullptr) return;
  gDevice = HostGivenPortsDevice(ports);
  gChosen = true;
}

void HostReportBmcCounters(FILE* out) {
  const sim::SimulatedBmc* simulation = HostSimulationOf(gDevice.get());
  if (simulation == nullptr) return;
  const sim::Stats& s = simulation->Counters();
  fprintf(out,
          "sim: virtual_us=%llu requests=%llu status_reads=%llu port_accesses=%llu stalls=%llu stalled_us=%llu "
          "violations=%llu fru_writes=%u\n",
          static_cast<unsigned long long>(simulation->NowUs()), static_cast<unsigned long long>(simulation->Requests()),
          static_cast<unsigned long long>(s.statusReads), static_cast<unsigned long long>(s.PortAccesses()),
          static_cast<unsigned long long>(s.stalls), static_cast<unsigned long long>(s.stalledUs),
          static_cast<unsigned long long>(simulation->Violations().count),
          simulation->CommandCount(sim::Command::WriteFru));
}

void HostReportBmcViolations(FILE* out) {
  const sim::SimulatedBmc* simulation = HostSimulationOf(gDevice.get());
  if (simulation == nullptr || simulation->Violations().count == 0) return;
  fprintf(out, "sim: protocol violations by the host: %llu, the first: %s\n",
          static_cast<unsigned long long>(simulation->Violations().count), simulation->Violations().first.c_str());
}

PlatformStatus PlatformChooseFruDevice() {
  if (gChosen) return gDevice != nullptr ? PLATFORM_SUCCESS : PLATFORM_NOT_FOUND;
  std::string error;
  // The BMC makers accepted belong to the device's part of the run too: a
  // setting that cannot be read ends it here, before any request, so that a
  // station never goes on with another list than it meant.
  if (!HostReadManufacturerIds(&error)) {
    gChosen = true;
    HostFailureLine("tagforge: " + error);
    return PLATFORM_NOT_FOUND;
  }
  if (HostChooseBmc(&error)) return PLATFORM_SUCCESS;
  HostFailureLine(error);
  return PLATFORM_NOT_FOUND;
}

PlatformStatus PlatformLocateFruAccess(PlatformFruAccess* access) {
  ChooseLazily();
  // With no device (the choice said why) the KCS interface is tried, and the
  // lookup of its ports ends the run as on a machine without a BMC.
  *access = gDevice != nullptr ? gDevice->Access() : HostBmcAccess(PlatformFruAccessKind::Ports, nullptr);
  return PLATFORM_SUCCESS;
}

PlatformStatus PlatformLocateCpuIo(const PlatformCpuIo** io) {
  *io = nullptr;
  ChooseLazily();
  if (gDevice == nullptr) return PLATFORM_UNSUPPORTED;
  *io = gDevice->Ports();
  return *io != nullptr ? PLATFORM_SUCCESS : PLATFORM_NOT_FOUND;
}

void PlatformRestartBmcWaits() {
  if (gDevice != nullptr) gDevice->RestartWaits();
}

// A device with a clock of its own (the simulated BMC) takes the stall there.
void PlatformStall(uint32_t microseconds) {
  if (gDevice != nullptr && gDevice->Stall(microseconds)) return;
  timespec delay{static_cast<time_t>(microseconds / 1000000), static_cast<long>(microseconds % 1000000) * 1000};
  while (nanosleep(&delay, &delay) != 0) {
  }
}
