// The host's devices, one row each (host_devices.h). A new device is its own
// file with its open function, declared here, and its row below.
#include "platform/host/host_devices.h"

#include <iterator>
#include <string>

HostOpenFunction HostOpenSim;     // host_sim_device.cpp
HostOpenFunction HostOpenPorts;   // host_ports.cpp
HostOpenFunction HostOpenKernel;  // host_kernel_ipmi.cpp
HostOpenFunction HostOpenLan;     // host_lan_ipmi.cpp, built with LAN only
HostOpenFunction HostOpenLanMissing;
HostOpenFunction OpenFruFileDevice;    // host_file_devices.cpp
HostOpenFunction OpenFruEepromDevice;  // host_file_devices.cpp

// A build without libfreeipmi (the static binary) says so, instead of listing
// the forms it takes as if lan: were a typo.
bool HostOpenLanMissing(const std::string&, const HostRoots&, HostOpened*, std::string* error) {
  *error = "[ERROR] This tagforge was built without LAN support (libfreeipmi): TAGFORGE_BMC=lan is not available";
  return false;
}

namespace {

constexpr HostDeviceRow HOST_DEVICE_ROWS[] = {
    {"sim", "sim, sim:PATH", HostOpenSim},
    {"ports", "ports", HostOpenPorts},
    {"kernel", "kernel, kernel:N", HostOpenKernel},
#ifdef TAGFORGE_HAVE_LAN
    {"lan:", "lan:HOST, lan:HOST:PORT", HostOpenLan},
#else
    {"lan:", "lan:HOST (not in this build)", HostOpenLanMissing},
#endif
    {"file:", "file:PATH", OpenFruFileDevice},
    {"eeprom:", "eeprom:PATH", OpenFruEepromDevice},
};

}  // namespace

bool HostHasLan() {
#ifdef TAGFORGE_HAVE_LAN
  return true;
#else
  return false;
#endif
}

const HostDeviceRow* HostDeviceRows(size_t* count) {
  *count = std::size(HOST_DEVICE_ROWS);
  return HOST_DEVICE_ROWS;
}
