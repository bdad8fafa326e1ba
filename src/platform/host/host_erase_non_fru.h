// TAGFORGE_ERASE_NON_FRU=PATH: the operator's confirmation that ClearFru=1 may
// initialise the chip or file at PATH although it holds no FRU data (a chip
// used for something else before). The path is typed twice, in TAGFORGE_BMC
// and here, and both must name one file; a memory module's SPD never qualifies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct EraseNonFruAnswer {
  bool confirmed;
  // When the setting is set but does not name this device: what the refusal
  // adds ("TAGFORGE_ERASE_NON_FRU names ..., not this device"); else empty.
  std::string otherDevice;
};
// fd: the device as opened (compared by file identity too); kernelName: the
// kernel's name for the chip, empty for a plain file.
EraseNonFruAnswer HostEraseNonFru(const std::string& path, int fd, const std::string& kernelName);

// The line said before the zeros go out: the device and its first bytes (up to 16) as hex.
std::string EraseNonFruNotice(const std::string& path, const uint8_t* first, size_t count);
