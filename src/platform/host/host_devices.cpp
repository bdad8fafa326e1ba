// The host's devices, one row each (host_devices.h). A new device is its own
// file with its open function, declared here, and its row below.
#include "platform/host/host_devices.h"

#include <cstring>

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
    {"sim", "sim, sim:PATH", HostOpenSim, false},
    {"ports", "ports", HostOpenPorts, false},
    {"kernel", "kernel, kernel:N", HostOpenKernel, false},
#ifdef TAGFORGE_HAVE_LAN
    {"lan:", "lan:HOST, lan:HOST:PORT", HostOpenLan, true},
#else
    {"lan:", "lan:HOST (not in this build)", HostOpenLanMissing, true},
#endif
    {"file:", "file:PATH", OpenFruFileDevice, true},
    {"eeprom:", "eeprom:PATH", OpenFruEepromDevice, true},
};

}  // namespace

bool HostHasLan() {
#ifdef TAGFORGE_HAVE_LAN
  return true;
#else
  return false;
#endif
}

const HostDeviceRow* HostDeviceRowOf(const char* setting) {
  if (setting == nullptr) return nullptr;
  for (const HostDeviceRow& row : HOST_DEVICE_ROWS) {
    if (strncmp(setting, row.prefix, strlen(row.prefix)) == 0) return &row;
  }
  return nullptr;
}

const HostDeviceRow* HostDeviceRows(size_t* count) {
  *count = std::size(HOST_DEVICE_ROWS);
  return HOST_DEVICE_ROWS;
}
