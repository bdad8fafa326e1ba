// The BMC of the host build, chosen once from TAGFORGE_BMC (see
// host_bmc_choice.h): the simulated BMC or the real ports behind the CPU I/O
// access, or the kernel's IPMI driver as a message transport.
#include "platform/host/host_bmc.h"

#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cstring>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define TAGFORGE_HAVE_PORT_IO 1
#endif

#include "platform/host/host_bmc_choice.h"
#include "platform/host/host_console.h"
#include "platform/host/host_resolve.h"
#include "platform/host/host_kernel_ipmi.h"
#ifdef TAGFORGE_HAVE_LAN
#include "platform/host/host_lan_ipmi.h"
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
std::unique_ptr<KernelIpmiTransport> gKernel;
#ifdef TAGFORGE_HAVE_LAN
std::unique_ptr<LanIpmiTransport> gLan;
#endif
// Set once a choice was tried, so that a failure is said once, not at every port access.
bool gChosen = false;
// The BMC as the environment named it, normalised; empty for one given in-process.
std::string gBmcName;
// What the lock of a run is taken on: the BMC itself, however it was reached.
std::string gBmcLockName;

// HOST[:PORT] or [IPV6][:PORT] with the host as the address it resolves to,
// so that a name and its address (localhost, 127.0.0.1) are one BMC.
std::string ResolvedLanName(const std::string& hostAndPort) {
#ifndef TAGFORGE_HAVE_LAN
  // Without LAN support nothing reaches a lan: BMC, and a static binary keeps clear of the resolver.
  return hostAndPort;
#else
  std::string host = hostAndPort;
  std::string port;
  const size_t close = host.rfind(']');
  const size_t colon = host.rfind(':');
  if (colon != std::string::npos && (close == std::string::npos ? host.find(':') == colon : colon > close)) {
    port = host.substr(colon);
    host = host.substr(0, colon);
  }
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string address = ResolvedAddress(host);
  if (address.empty()) return hostAndPort;
  return (address.find(':') != std::string::npos ? "[" + address + "]" : address) + port;
#endif
}

// One name for one BMC however it was written: the journal finds its entries by it.
std::string NormalisedName(const BmcChoice& choice) {
  switch (choice.kind) {
    case BmcKind::Sim: {
      std::error_code ignored;
      std::filesystem::path path = std::filesystem::weakly_canonical(std::filesystem::absolute(choice.path), ignored);
      return "sim:" + (ignored ? std::filesystem::absolute(choice.path).lexically_normal() : path).string();
    }
    case BmcKind::Ports: return "ports";
    case BmcKind::Kernel: return "kernel:" + choice.path;
    case BmcKind::Lan: return "lan:" + ResolvedLanName(choice.path);
  }
  return "";
}

// A FRU file reached by two paths (a hard link) is one FRU: its lock is on the file itself.
std::string LockName(const BmcChoice& choice, const std::string& name) {
  struct stat info{};
  if (choice.kind == BmcKind::Sim && stat(choice.path.c_str(), &info) == 0) {
    return "sim-file:" + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  }
  return name;
}

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

bool OpenSimulation(const std::string& path, std::string* error) {
  std::unique_ptr<sim::SimulatedBmc> bmc = sim::SimulatedBmcFromEnvironment(TAGFORGE_MANUFACTURER_ID, error);
  if (bmc == nullptr || !bmc->Open(path, error)) {
    *error = "tagforge: simulated BMC: " + *error;
    return false;
  }
  gOwnedSimulation = std::move(bmc);
  gSimulation = gOwnedSimulation.get();
  return true;
}

bool OpenRealPorts(std::string* error) {
#ifdef TAGFORGE_HAVE_PORT_IO
  if (ioperm(0xCA2, 2, 1) != 0) {
    *error = std::string("tagforge: cannot open the KCS ports 0xCA2-0xCA3 (ioperm: ") + strerror(errno) +
             "; the ports need root)";
    return false;
  }
  gRealPorts = true;
  return true;
#else
  *error = "tagforge: real I/O ports are not available on this machine";
  return false;
#endif
}

bool OpenKernel(const std::string& node, std::string* error) {
  auto kernel = std::make_unique<KernelIpmiTransport>();
  if (!kernel->Open(node, error)) {
    *error = "tagforge: the kernel's IPMI driver: " + *error;
    return false;
  }
  gKernel = std::move(kernel);
  return true;
}

// The session itself opens with the first request, so that a BMC that cannot
// be reached ends the run with the tool's own message after the host's line.
bool OpenLan(const std::string& host, std::string* error) {
#ifdef TAGFORGE_HAVE_LAN
  LanSettings settings;
  if (!ReadLanSettings(host, &settings, error)) return false;
  gLan = std::make_unique<LanIpmiTransport>(std::move(settings));
  return true;
#else
  (void)host;
  *error = "[ERROR] This tagforge was built without LAN support (libfreeipmi): TAGFORGE_BMC=lan is not available";
  return false;
#endif
}

// A library user that did not choose (a test, a fuzz target) gets the choice
// from the environment on first use; its failure is printed here, once.
void ChooseLazily() {
  if (gChosen || gSimulation != nullptr || gGivenPorts != nullptr) return;
  std::string error;
  if (!HostChooseBmc(&error)) HostFailureLine(error);
}

}  // namespace

bool HostChooseBmc(std::string* error) {
  gChosen = true;
  BmcChoice choice;
  if (!ChooseBmc(getenv("TAGFORGE_BMC"), HostRoots{}, &choice, error)) return false;
  if (!choice.notice.empty()) fprintf(stderr, "%s\n", choice.notice.c_str());
  gBmcName = NormalisedName(choice);
  gBmcLockName = gBmcName;
  switch (choice.kind) {
    case BmcKind::Sim:
      if (!OpenSimulation(choice.path, error)) return false;
      gBmcLockName = LockName(choice, gBmcName);  // the file exists now
      return true;
    case BmcKind::Ports: return OpenRealPorts(error);
    case BmcKind::Kernel: return OpenKernel(choice.path, error);
    case BmcKind::Lan: return OpenLan(choice.path, error);
  }
  return false;
}

const std::string& HostBmcName() { return gBmcName; }

const std::string& HostBmcLockName() { return gBmcLockName; }

const char* PlatformRemoteBmcName() { return gBmcName.rfind("lan:", 0) == 0 ? gBmcName.c_str() : nullptr; }

void HostUseSimulatedBmc(sim::SimulatedBmc* bmc) {
  gBmcName.clear();
  gBmcLockName.clear();
  gOwnedSimulation.reset();
  gSimulation = bmc;
  gSimIo.context = bmc;
  gRealPorts = false;
  gGivenPorts = nullptr;
  gKernel.reset();
#ifdef TAGFORGE_HAVE_LAN
  gLan.reset();
#endif
  gChosen = bmc != nullptr;
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
  ChooseLazily();
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
  if (gRealPorts) {
    *io = &gRealIo;
    return PLATFORM_SUCCESS;
  }
#endif
  return PLATFORM_UNSUPPORTED;
}

PlatformStatus PlatformLocateIpmiTransport(const PlatformIpmiTransport** transport) {
  *transport = nullptr;
  ChooseLazily();
#ifdef TAGFORGE_HAVE_LAN
  if (gLan != nullptr) {
    *transport = gLan->Platform();
    return PLATFORM_SUCCESS;
  }
#endif
  if (gKernel == nullptr) return PLATFORM_NOT_FOUND;
  *transport = gKernel->Platform();
  return PLATFORM_SUCCESS;
}

void PlatformRestartBmcWaits() {
#ifdef TAGFORGE_HAVE_LAN
  if (gLan != nullptr) gLan->RestartWaits();
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
