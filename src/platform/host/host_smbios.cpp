// SMBIOS in the host build: the directory TAGFORGE_SMBIOS names (default
// /sys/firmware/dmi/tables) holds smbios_entry_point and DMI, the table.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

std::vector<uint8_t> gEntryPoint;
std::vector<uint8_t> gTable;

std::string SmbiosDirectory() {
  const char* directory = getenv("TAGFORGE_SMBIOS");
  return directory == nullptr || *directory == '\0' ? "/sys/firmware/dmi/tables" : directory;
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

PlatformStatus PlatformGetSmbiosEntryPoint(const uint8_t** bytes, size_t* length) {
  *bytes = nullptr;
  *length = 0;
  // The file as it is: whether it is a 2.x entry point is the core's check.
  if (!ReadWhole(SmbiosDirectory() + "/smbios_entry_point", &gEntryPoint)) return PLATFORM_NOT_FOUND;
  *bytes = gEntryPoint.data();
  *length = gEntryPoint.size();
  return PLATFORM_SUCCESS;
}

// Linux offers one entry point file, whichever version the firmware published;
// the core tells them apart by their anchors.
PlatformStatus PlatformGetSmbios3EntryPoint(const uint8_t** bytes, size_t* length) {
  return PlatformGetSmbiosEntryPoint(bytes, length);
}

// The host has no physical address to read: the DMI file is the table.
PlatformStatus PlatformGetSmbiosTable(uint64_t, uint32_t length, const uint8_t** bytes, size_t* available) {
  *bytes = nullptr;
  *available = 0;
  if (!ReadWhole(SmbiosDirectory() + "/DMI", &gTable)) return PLATFORM_NOT_FOUND;
  *bytes = gTable.data();
  *available = gTable.size() < length ? gTable.size() : length;
  return PLATFORM_SUCCESS;
}
