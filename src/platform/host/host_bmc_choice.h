// Which device a host run reaches its FRU through, from TAGFORGE_BMC: the row
// of the host's device table (host_devices.h) whose prefix the setting starts
// with, or, unset, the Linux kernel's IPMI driver when it is there.
#pragma once

#include <string>
#include <vector>

#include "platform/host/host_devices.h"

// Where the machine's device nodes and sysfs are (tests give other roots).
struct HostRoots {
  std::string dev = "/dev";
  std::string sys = "/sys";
};

// The kernel driver's nodes for interface n, in the order they are tried.
std::vector<std::string> KernelIpmiNodes(const HostRoots& roots, int n);
// The first of them that exists, or empty.
std::string KernelIpmiNode(const HostRoots& roots, int n);
// True while a kernel IPMI interface driver (ipmi_si, ipmi_ssif) is loaded, with or without its device interface.
bool KernelIpmiInterfaceLoaded(const HostRoots& roots);
// True while any part of the kernel's IPMI driver is loaded: a node of it, an
// entry under /sys/class/ipmi, or an interface driver under /sys/module.
bool KernelIpmiDriverLoaded(const HostRoots& roots);

// Opens the device the setting names (null: unset); false with the one line
// to print in *error.
bool HostOpenDevice(const char* setting, const HostRoots& roots, HostOpened* opened, std::string* error);
