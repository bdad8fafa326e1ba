// Which BMC a host run talks to, from TAGFORGE_BMC: the embedded simulated
// BMC, the real KCS ports, or the Linux kernel's IPMI driver.
#pragma once

#include <string>
#include <vector>

// Where the machine's device nodes and sysfs are (tests give other roots).
struct HostRoots {
  std::string dev = "/dev";
  std::string sys = "/sys";
};

enum class BmcKind { Sim, Ports, Kernel, Lan };

struct BmcChoice {
  BmcKind kind = BmcKind::Sim;
  std::string path;    // the simulated BMC's FRU file, the kernel driver's device node, or HOST[:PORT]
  std::string notice;  // a line for standard error about a choice made for the user
};

// The kernel driver's nodes for interface n, in the order they are tried.
std::vector<std::string> KernelIpmiNodes(const HostRoots& roots, int n);
// True while a kernel IPMI interface driver (ipmi_si, ipmi_ssif) is loaded, with or without its device interface.
bool KernelIpmiInterfaceLoaded(const HostRoots& roots);
// True while any part of the kernel's IPMI driver is loaded: a node of it, an
// entry under /sys/class/ipmi, or an interface driver under /sys/module.
bool KernelIpmiDriverLoaded(const HostRoots& roots);

// Reads the setting (null: unset); false with the one line to print in *error.
bool ChooseBmc(const char* setting, const HostRoots& roots, BmcChoice* choice, std::string* error);
