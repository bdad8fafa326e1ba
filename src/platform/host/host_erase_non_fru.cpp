#include "platform/host/host_erase_non_fru.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

namespace {

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return "";
  std::string real = resolved;
  free(resolved);
  return real;
}

// The kernel's names for memory modules' SPD chips (at24's "spd", "ee1004", "spd5118").
bool NamesSpd(const std::string& kernelName) {
  return kernelName.find("spd") != std::string::npos || kernelName == "ee1004";
}

}  // namespace

EraseNonFruAnswer HostEraseNonFru(const std::string& path, int fd, const std::string& kernelName) {
  const char* setting = getenv("TAGFORGE_ERASE_NON_FRU");
  if (setting == nullptr || *setting == '\0') return {false, ""};
  const std::string other = "TAGFORGE_ERASE_NON_FRU names " + std::string(setting) + ", not this device";
  if (NamesSpd(kernelName)) return {false, other};
  const std::string named = RealPath(setting);
  if (named.empty() || named != RealPath(path)) return {false, other};
  // The same path may name another file than the one open (replaced since): the file decides.
  struct stat open{};
  struct stat atPath{};
  if (fstat(fd, &open) != 0 || stat(named.c_str(), &atPath) != 0 || open.st_dev != atPath.st_dev ||
      open.st_ino != atPath.st_ino) {
    return {false, other};
  }
  return {true, ""};
}

std::string EraseNonFruNotice(const std::string& path, const uint8_t* first, size_t count) {
  std::string line = "TAGFORGE_ERASE_NON_FRU: overwriting " + path + ", which holds no FRU data; its first " +
                     std::to_string(count) + " bytes:";
  char hex[4];
  for (size_t i = 0; i < count; ++i) {
    snprintf(hex, sizeof(hex), " %02x", first[i]);
    line += hex;
  }
  return line;
}
