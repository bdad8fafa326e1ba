#include "platform/host/host_ports.h"

#include <cerrno>
#include <cstring>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define TAGFORGE_HAVE_PORT_IO 1
#endif

#include "platform/host/host_bmc_choice.h"
#include "platform/host/host_device_parts.h"

namespace {

class GivenPorts : public HostDevice {
 public:
  explicit GivenPorts(const PlatformCpuIo* ports) : ports_(ports) {}
  PlatformFruAccess Access() override { return HostBmcAccess(PlatformFruAccessKind::Ports, nullptr); }
  const PlatformCpuIo* Ports() override { return ports_; }
  bool Stall(uint32_t) override { return true; }

 private:
  const PlatformCpuIo* ports_;
};

#ifdef TAGFORGE_HAVE_PORT_IO
constexpr uint16_t PORTS_KCS_BASE = 0xCA2;
constexpr unsigned long PORTS_KCS_COUNT = 2;

PlatformStatus RealRead(void*, uint16_t port, uint8_t* value) {
  *value = inb(port);
  return PLATFORM_SUCCESS;
}

PlatformStatus RealWrite(void*, uint16_t port, uint8_t value) {
  outb(value, port);
  return PLATFORM_SUCCESS;
}

const PlatformCpuIo gRealIo{RealRead, RealWrite, nullptr};

class RealPorts : public HostDevice {
 public:
  PlatformFruAccess Access() override { return HostBmcAccess(PlatformFruAccessKind::Ports, nullptr); }
  const PlatformCpuIo* Ports() override { return &gRealIo; }
};
#endif

}  // namespace

std::unique_ptr<HostDevice> HostGivenPortsDevice(const PlatformCpuIo* ports) {
  return std::make_unique<GivenPorts>(ports);
}

// TAGFORGE_BMC=ports: refused while the kernel's driver owns the interface.
bool HostOpenPorts(const std::string& suffix, const HostRoots& roots, HostOpened* opened, std::string* error) {
  if (!suffix.empty()) return false;
  if (KernelIpmiDriverLoaded(roots)) {
    *error = "[ERROR] The kernel's IPMI driver is loaded and owns the KCS interface; two drivers on one interface "
             "corrupt each other's transfers. Use TAGFORGE_BMC=kernel";
    return false;
  }
#ifdef TAGFORGE_HAVE_PORT_IO
  if (ioperm(PORTS_KCS_BASE, PORTS_KCS_COUNT, 1) != 0) {
    *error = std::string("tagforge: cannot open the KCS ports 0xCA2-0xCA3 (ioperm: ") + strerror(errno) +
             "; the ports need root)";
    return false;
  }
  opened->device = std::make_unique<RealPorts>();
  opened->name = "ports";
  return true;
#else
  (void)opened;
  *error = "tagforge: real I/O ports are not available on this machine";
  return false;
#endif
}
