#include "platform/host/host_bmc_choice.h"

#include <sys/stat.h>

#include <filesystem>

namespace {

bool Exists(const std::string& path) {
  struct stat info{};
  return stat(path.c_str(), &info) == 0;
}

// "sim, sim:PATH, ports, ... or lan:HOST:PORT": every row's forms, in the table's order.
std::string AcceptedForms(const HostDeviceRow* rows, size_t count) {
  std::string forms;
  for (size_t i = 0; i < count; ++i) forms += (i == 0 ? "" : ", ") + std::string(rows[i].usage);
  const size_t last = forms.rfind(", ");
  return last == std::string::npos ? forms : forms.replace(last, 2, " or ");
}

}  // namespace

std::vector<std::string> KernelIpmiNodes(const HostRoots& roots, int n) {
  const std::string number = std::to_string(n);
  return {roots.dev + "/ipmi" + number, roots.dev + "/ipmi/" + number, roots.dev + "/ipmidev/" + number};
}

std::string KernelIpmiNode(const HostRoots& roots, int n) {
  for (const std::string& node : KernelIpmiNodes(roots, n)) {
    if (Exists(node)) return node;
  }
  return "";
}

bool KernelIpmiInterfaceLoaded(const HostRoots& roots) {
  return Exists(roots.sys + "/module/ipmi_si") || Exists(roots.sys + "/module/ipmi_ssif");
}

bool KernelIpmiDriverLoaded(const HostRoots& roots) {
  if (!KernelIpmiNode(roots, 0).empty() || KernelIpmiInterfaceLoaded(roots)) return true;
  std::error_code ignored;
  std::filesystem::directory_iterator entries(roots.sys + "/class/ipmi", ignored);
  return !ignored && entries != std::filesystem::directory_iterator();
}

bool HostOpenDevice(const char* setting, const HostRoots& roots, HostOpened* opened, std::string* error) {
  error->clear();
  if (setting == nullptr) {
    // On a machine whose kernel drives the BMC, that is the BMC. Anything else
    // is the operator's to name: a simulated BMC chosen by surprise would stamp
    // a sample file and let the board ship unstamped with a green light.
    if (KernelIpmiNode(roots, 0).empty()) {
      if (KernelIpmiInterfaceLoaded(roots)) {
        *error = "[ERROR] The kernel's IPMI driver is loaded without its device interface: load it with modprobe "
                 "ipmi_devintf, or set TAGFORGE_BMC (kernel, lan:HOST, sim, ports)";
      } else {
        *error = "[ERROR] No BMC: load the kernel's IPMI driver: modprobe ipmi_si ipmi_devintf, or set TAGFORGE_BMC "
                 "(kernel, lan:HOST, sim, ports)";
      }
      return false;
    }
    setting = "kernel";
  }
  const std::string text = setting;
  size_t count = 0;
  const HostDeviceRow* rows = HostDeviceRows(&count);
  for (size_t i = 0; i < count; ++i) {
    const std::string prefix = rows[i].prefix;
    if (text.compare(0, prefix.size(), prefix) != 0) continue;
    if (rows[i].open(text.substr(prefix.size()), roots, opened, error)) return true;
    if (!error->empty()) return false;
  }
  *error = "[ERROR] TAGFORGE_BMC must be " + AcceptedForms(rows, count) + ", not \"" + text + "\"";
  return false;
}
