#include "platform/host/host_bmc_choice.h"

#include <sys/stat.h>

#include <filesystem>

#include "platform/host/host_lan_address.h"

namespace {

constexpr const char* kDefaultFruFile = "tagforge-fru.bin";

bool Exists(const std::string& path) {
  struct stat info{};
  return stat(path.c_str(), &info) == 0;
}

// The first node of interface n that exists, or empty.
std::string FindNode(const HostRoots& roots, int n) {
  for (const std::string& node : KernelIpmiNodes(roots, n)) {
    if (Exists(node)) return node;
  }
  return "";
}

bool ReadInterface(const std::string& text, int* n) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *n = std::stoi(text);
  return true;
}

// HOST, HOST:PORT, [IPV6] or [IPV6]:PORT; the default port, 623, is left out.
bool ChooseLan(const std::string& address, BmcChoice* choice, std::string* error) {
  std::string host;
  if (!ReadLanAddress(address, &host, error)) return false;
  *choice = BmcChoice{BmcKind::Lan, host, ""};
  return true;
}

}  // namespace

std::vector<std::string> KernelIpmiNodes(const HostRoots& roots, int n) {
  const std::string number = std::to_string(n);
  return {roots.dev + "/ipmi" + number, roots.dev + "/ipmi/" + number, roots.dev + "/ipmidev/" + number};
}

bool KernelIpmiInterfaceLoaded(const HostRoots& roots) {
  return Exists(roots.sys + "/module/ipmi_si") || Exists(roots.sys + "/module/ipmi_ssif");
}

bool KernelIpmiDriverLoaded(const HostRoots& roots) {
  if (!FindNode(roots, 0).empty() || KernelIpmiInterfaceLoaded(roots)) return true;
  std::error_code ignored;
  std::filesystem::directory_iterator entries(roots.sys + "/class/ipmi", ignored);
  return !ignored && entries != std::filesystem::directory_iterator();
}

bool ChooseBmc(const char* setting, const HostRoots& roots, BmcChoice* choice, std::string* error) {
  const std::string text = setting == nullptr ? "" : setting;
  if (setting == nullptr) {
    // On a machine whose kernel drives the BMC, that is the BMC. Anything else
    // is the operator's to name: a simulated BMC chosen by surprise would stamp
    // a sample file and let the board ship unstamped with a green light.
    const std::string node = FindNode(roots, 0);
    if (!node.empty()) {
      *choice = BmcChoice{BmcKind::Kernel, node, ""};
      return true;
    }
    if (KernelIpmiInterfaceLoaded(roots)) {
      *error = "[ERROR] The kernel's IPMI driver is loaded without its device interface: load it with modprobe "
               "ipmi_devintf, or set TAGFORGE_BMC (kernel, lan:HOST, sim, ports)";
    } else {
      *error = "[ERROR] No BMC: load the kernel's IPMI driver: modprobe ipmi_si ipmi_devintf, or set TAGFORGE_BMC "
               "(kernel, lan:HOST, sim, ports)";
    }
    return false;
  }
  if (text == "sim") {
    *choice = BmcChoice{BmcKind::Sim, kDefaultFruFile, ""};
    return true;
  }
  if (text.rfind("sim:", 0) == 0 && text.size() > 4) {
    *choice = BmcChoice{BmcKind::Sim, text.substr(4), ""};
    return true;
  }
  if (text == "ports") {
    if (KernelIpmiDriverLoaded(roots)) {
      *error = "[ERROR] The kernel's IPMI driver is loaded and owns the KCS interface; two drivers on one interface "
               "corrupt each other's transfers. Use TAGFORGE_BMC=kernel";
      return false;
    }
    *choice = BmcChoice{BmcKind::Ports, "", ""};
    return true;
  }
  int n = 0;
  if (text == "kernel" || (text.rfind("kernel:", 0) == 0 && ReadInterface(text.substr(7), &n))) {
    const std::string node = FindNode(roots, n);
    if (node.empty()) {
      const std::vector<std::string> nodes = KernelIpmiNodes(roots, n);
      *error = "[ERROR] No device node of the kernel's IPMI driver (" + nodes[0] + ", " + nodes[1] + ", " + nodes[2] +
               "): load it with modprobe ipmi_si ipmi_devintf";
      return false;
    }
    *choice = BmcChoice{BmcKind::Kernel, node, ""};
    return true;
  }
  if (text.rfind("lan:", 0) == 0) return ChooseLan(text.substr(4), choice, error);
  *error = "[ERROR] TAGFORGE_BMC must be sim, sim:PATH, ports, kernel, kernel:N, lan:HOST or lan:HOST:PORT, not \"" +
           text + "\"";
  return false;
}
