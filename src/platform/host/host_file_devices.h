// FRU devices with no BMC in front, reached as a file: an image file
// (file:PATH), kept whole on disk, and a FRU EEPROM through Linux's at24
// driver (eeprom:PATH, the device's eeprom or nvmem file in sysfs).
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/host/host_devices.h"

struct HostRoots;

// The system calls the devices make, so that tests can stand in for what a
// file cannot do by itself (a write-protect pin, a kernel that refuses write access).
struct FruFileCalls {
  int (*open)(const char* path, int flags);
  ssize_t (*pread)(int fd, void* into, size_t count, off_t offset);
  ssize_t (*pwrite)(int fd, const void* bytes, size_t count, off_t offset);
  int (*fsync)(int fd);
  int (*close)(int fd);
};
const FruFileCalls& RealFruFileCalls();
// Tests: the calls the rows' devices (file:, eeprom:) are opened with from now
// on; null goes back to the real ones. The calls must outlive the devices.
void HostUseFruFileCalls(const FruFileCalls* calls);

enum class FruFileKind : uint8_t {
  Image,   // file:PATH
  Eeprom,  // eeprom:PATH
};

// Opens the device at path (as the user wrote it); false with the one line to
// print in *error (no such file, not a regular file, a memory module's SPD),
// or with *error left empty for an empty path, which is not the row's form.
bool OpenFruFile(FruFileKind kind, const std::string& path, const FruFileCalls& calls, HostOpened* opened,
                 std::string* error);

// The rows' open functions (prefixes "file:" and "eeprom:", usages "file:PATH" and "eeprom:PATH").
bool OpenFruFileDevice(const std::string& suffix, const HostRoots& roots, HostOpened* opened, std::string* error);
bool OpenFruEepromDevice(const std::string& suffix, const HostRoots& roots, HostOpened* opened, std::string* error);
