// The host's devices, one row each (host_devices.h). A new device is its own
// file with its open function, declared here, and its row below.
#include "platform/host/host_devices.h"

#include <iterator>

HostOpenFunction HostOpenSim;     // host_sim_device.cpp
HostOpenFunction HostOpenPorts;   // host_ports.cpp
HostOpenFunction HostOpenKernel;  // host_kernel_ipmi.cpp
HostOpenFunction HostOpenLan;     // host_lan_ipmi.cpp, built with LAN only
HostOpenFunction OpenFruFileDevice;    // host_file_devices.cpp
HostOpenFunction OpenFruEepromDevice;  // host_file_devices.cpp

namespace {

constexpr HostDeviceRow HOST_DEVICE_ROWS[] = {
    {"sim", "sim, sim:PATH", HostOpenSim},
    {"ports", "ports", HostOpenPorts},
    {"kernel", "kernel, kernel:N", HostOpenKernel},
#ifdef TAGFORGE_HAVE_LAN
    {"lan:", "lan:HOST, lan:HOST:PORT", HostOpenLan},
#endif
    {"file:", "file:PATH", OpenFruFileDevice},
    {"eeprom:", "eeprom:PATH", OpenFruEepromDevice},
};

}  // namespace

const HostDeviceRow* HostDeviceRows(size_t* count) {
  *count = std::size(HOST_DEVICE_ROWS);
  return HOST_DEVICE_ROWS;
}
