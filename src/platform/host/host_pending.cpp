// Host operations whose backends are not built yet. Each reports that the
// service is not there; none pretends to succeed.
#include "platform/platform.h"

PlatformStatus PlatformLocateFileSystem() { return PLATFORM_NOT_FOUND; }
PlatformStatus PlatformOpenVolume() { return PLATFORM_NOT_FOUND; }
PlatformStatus PlatformOpenFile(const char16_t*, PlatformFile** file) {
  *file = nullptr;
  return PLATFORM_NOT_FOUND;
}
PlatformStatus PlatformReadFile(PlatformFile*, void*, size_t* size) {
  *size = 0;
  return PLATFORM_NOT_FOUND;
}
void PlatformCloseFile(PlatformFile*) {}

PlatformStatus PlatformGetSmbiosEntryPoint(const uint8_t** bytes, size_t* length) {
  *bytes = nullptr;
  *length = 0;
  return PLATFORM_NOT_FOUND;
}
PlatformStatus PlatformGetSmbiosTable(uint32_t, uint16_t, const uint8_t** bytes, size_t* available) {
  *bytes = nullptr;
  *available = 0;
  return PLATFORM_NOT_FOUND;
}

PlatformStatus PlatformGetLocalTime(PlatformTime*) { return PLATFORM_NOT_FOUND; }
