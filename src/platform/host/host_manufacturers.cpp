// The BMC makers a host run accepts: TAGFORGE_MANUFACTURER_ID, a
// comma-separated list of IANA enterprise numbers, for stations that serve
// several makers; unset, the build's own list holds.
#include "platform/host/host_manufacturers.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

constexpr unsigned long MANUFACTURER_ID_MAX = 0xFFFFFF;  // 24 bits

std::vector<uint32_t> gIds;

}  // namespace

bool HostReadManufacturerIds(std::string* error) {
  gIds.clear();
  const char* text = getenv("TAGFORGE_MANUFACTURER_ID");
  if (text == nullptr) return true;
  const std::string list = text;
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    const std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    // Decimal, or hexadecimal after "0x"; a leading zero does not make it octal.
    const bool hex = item.size() > 2 && item[0] == '0' && (item[1] == 'x' || item[1] == 'X');
    const std::string digits = hex ? item.substr(2) : item;
    const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    char* end = nullptr;
    const unsigned long id = digits.empty() ? 0 : strtoul(digits.c_str(), &end, hex ? 16 : 10);
    if (digits.empty() || digits.size() > 8 || digits.find_first_not_of(allowed) != std::string::npos ||
        *end != '\0' || id > MANUFACTURER_ID_MAX) {
      *error = "TAGFORGE_MANUFACTURER_ID must be a comma-separated list of IDs of up to 24 bits, not \"" + list + "\"";
      gIds.clear();
      return false;
    }
    gIds.push_back(static_cast<uint32_t>(id));
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

PlatformStatus PlatformGetManufacturerIds(const uint32_t** ids, size_t* count) {
  *ids = gIds.empty() ? nullptr : gIds.data();
  *count = gIds.size();
  return gIds.empty() ? PLATFORM_NOT_FOUND : PLATFORM_SUCCESS;
}
