// The BMC's I/O ports in the host build, chosen by TAGFORGE_BMC: unset or
// "sim" is the embedded simulated BMC keeping its FRU in tagforge-fru.bin,
// "sim:PATH" keeps it in PATH, "ports" uses the real ports (root, ioperm).
#include "platform/host/host_bmc.h"

#include <time.h>

#include <cstdlib>
#include <memory>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define TAGFORGE_HAVE_PORT_IO 1
#endif

#include "platform/platform.h"
#include "simulated_bmc.h"

#ifndef TAGFORGE_MANUFACTURER_ID
#define TAGFORGE_MANUFACTURER_ID 32473
#endif

namespace {

std::unique_ptr<sim::SimulatedBmc> gOwnedSimulation;
sim::SimulatedBmc* gSimulation = nullptr;
bool gRealPorts = false;
const PlatformCpuIo* gGivenPorts = nullptr;

PlatformStatus SimRead(void* context, uint16_t port, uint8_t* value) {
  return static_cast<sim::SimulatedBmc*>(context)->Read(port, value) ? PLATFORM_SUCCESS : PLATFORM_DEVICE_ERROR;
}

PlatformStatus SimWrite(void* context, uint16_t port, uint8_t value) {
  return static_cast<sim::SimulatedBmc*>(context)->Write(port, value) ? PLATFORM_SUCCESS : PLATFORM_DEVICE_ERROR;
}

#ifdef TAGFORGE_HAVE_PORT_IO
PlatformStatus RealRead(void*, uint16_t port, uint8_t* value) {
  *value = inb(port);
  return PLATFORM_SUCCESS;
}

PlatformStatus RealWrite(void*, uint16_t port, uint8_t value) {
  outb(value, port);
  return PLATFORM_SUCCESS;
}
#endif

PlatformCpuIo gSimIo{SimRead, SimWrite, nullptr};
#ifdef TAGFORGE_HAVE_PORT_IO
const PlatformCpuIo gRealIo{RealRead, RealWrite, nullptr};
#endif

PlatformStatus OpenSimulation(const std::string& path) {
  std::string error;
  std::unique_ptr<sim::SimulatedBmc> bmc = sim::SimulatedBmcFromEnvironment(TAGFORGE_MANUFACTURER_ID, &error);
  if (bmc == nullptr || !bmc->Open(path, &error)) {
    fprintf(stderr, "tagforge: simulated BMC: %s\n", error.c_str());
    return PLATFORM_DEVICE_ERROR;
  }
  gOwnedSimulation = std::move(bmc);
  gSimulation = gOwnedSimulation.get();
  return PLATFORM_SUCCESS;
}

PlatformStatus OpenRealPorts() {
#ifdef TAGFORGE_HAVE_PORT_IO
  if (ioperm(0xCA2, 2, 1) != 0) {
    perror("tagforge: ioperm for ports 0xCA2-0xCA3");
    return PLATFORM_UNSUPPORTED;
  }
  gRealPorts = true;
  return PLATFORM_SUCCESS;
#else
  fprintf(stderr, "tagforge: real I/O ports are not available on this machine\n");
  return PLATFORM_UNSUPPORTED;
#endif
}

// Chooses the BMC once per process, from the environment.
PlatformStatus ChooseBmc() {
  if (gSimulation != nullptr || gRealPorts || gGivenPorts != nullptr) return PLATFORM_SUCCESS;
  const char* choice = getenv("TAGFORGE_BMC");
  std::string text = choice == nullptr ? "sim" : choice;
  if (text == "sim") return OpenSimulation("tagforge-fru.bin");
  if (text.rfind("sim:", 0) == 0 && text.size() > 4) return OpenSimulation(text.substr(4));
  if (text == "ports") return OpenRealPorts();
  fprintf(stderr, "tagforge: TAGFORGE_BMC must be sim, sim:PATH or ports, not \"%s\"\n", text.c_str());
  return PLATFORM_INVALID_PARAMETER;
}

}  // namespace

void HostUseSimulatedBmc(sim::SimulatedBmc* bmc) {
  gOwnedSimulation.reset();
  gSimulation = bmc;
  gSimIo.context = bmc;
  gRealPorts = false;
  gGivenPorts = nullptr;
}

void HostUsePorts(const PlatformCpuIo* ports) {
  HostUseSimulatedBmc(nullptr);
  gGivenPorts = ports;
}

void HostReportBmcCounters(FILE* out) {
  if (gSimulation == nullptr) return;
  const sim::Stats& s = gSimulation->Counters();
  fprintf(out,
          "sim: virtual_us=%llu requests=%llu status_reads=%llu port_accesses=%llu stalls=%llu stalled_us=%llu "
          "violations=%llu\n",
          static_cast<unsigned long long>(gSimulation->NowUs()), static_cast<unsigned long long>(gSimulation->Requests()),
          static_cast<unsigned long long>(s.statusReads), static_cast<unsigned long long>(s.PortAccesses()),
          static_cast<unsigned long long>(s.stalls), static_cast<unsigned long long>(s.stalledUs),
          static_cast<unsigned long long>(gSimulation->Violations().count));
}

void HostReportBmcViolations(FILE* out) {
  if (gSimulation == nullptr || gSimulation->Violations().count == 0) return;
  fprintf(out, "sim: protocol violations by the host: %llu, the first: %s\n",
          static_cast<unsigned long long>(gSimulation->Violations().count), gSimulation->Violations().first.c_str());
}

PlatformStatus PlatformLocateCpuIo(const PlatformCpuIo** io) {
  *io = nullptr;
  PlatformStatus status = ChooseBmc();
  if (PlatformIsError(status)) return status;
  if (gGivenPorts != nullptr) {
    *io = gGivenPorts;
    return PLATFORM_SUCCESS;
  }
  if (gSimulation != nullptr) {
    if (gSimulation->LocateFails()) return PLATFORM_NOT_FOUND;
    gSimIo.context = gSimulation;
    *io = &gSimIo;
    return PLATFORM_SUCCESS;
  }
#ifdef TAGFORGE_HAVE_PORT_IO
  *io = &gRealIo;
  return PLATFORM_SUCCESS;
#else
  return PLATFORM_UNSUPPORTED;
#endif
}

// With the simulated BMC a stall advances its clock: no real time passes.
void PlatformStall(uint32_t microseconds) {
  if (gGivenPorts != nullptr) return;
  if (gSimulation != nullptr) {
    gSimulation->Stall(microseconds);
    return;
  }
  timespec delay{static_cast<time_t>(microseconds / 1000000), static_cast<long>(microseconds % 1000000) * 1000};
  while (nanosleep(&delay, &delay) != 0) {
  }
}
