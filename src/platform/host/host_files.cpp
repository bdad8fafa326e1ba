// The first volume of the host build: the directory TAGFORGE_VOLUME names
// (default the current directory). Paths stay inside it. TAGFORGE_TOOL_VOLUME,
// when set, stands for the volume the tool was loaded from (a stick beside the
// board's own disk); unset, the host has no such volume.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

struct PlatformFile {
  int fd;
};

namespace {

PlatformFile gOpenFile{-1};

std::string VolumeDirectory() {
  const char* volume = getenv("TAGFORGE_VOLUME");
  return volume == nullptr || *volume == '\0' ? "." : volume;
}

std::string ToolVolumeDirectory() {
  const char* volume = getenv("TAGFORGE_TOOL_VOLUME");
  return volume == nullptr ? "" : volume;
}

// The UCS-2 path as host bytes: UEFI's backslashes become slashes; bytes the
// tool widened to 0xFF00 + b come back as b. False for a path that would
// leave the volume or that holds other characters.
bool HostPath(const std::string& volume, const char16_t* path, std::string* out) {
  std::string relative;
  for (; *path != 0; ++path) {
    char16_t c = *path;
    if (c == u'\\') c = u'/';
    if (c < 0x80) {
      relative += static_cast<char>(c);
    } else if (c >= 0xFF80) {
      relative += static_cast<char>(c - 0xFF00);
    } else {
      return false;
    }
  }
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    if (relative.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  while (!relative.empty() && relative[0] == '/') relative.erase(0, 1);
  if (relative.empty()) return false;
  *out = volume + "/" + relative;
  return true;
}

PlatformStatus StatusOf(int error) {
  switch (error) {
    case ENOENT: return PLATFORM_NOT_FOUND;
    case EACCES: case EPERM: return PLATFORM_ACCESS_DENIED;
    case EROFS: return PLATFORM_WRITE_PROTECTED;
    default: return PLATFORM_DEVICE_ERROR;
  }
}

}  // namespace

PlatformStatus PlatformLocateFileSystem() {
  struct stat info{};
  return stat(VolumeDirectory().c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? PLATFORM_SUCCESS : PLATFORM_NOT_FOUND;
}

PlatformStatus PlatformOpenVolume() {
  return access(VolumeDirectory().c_str(), R_OK | X_OK) == 0 ? PLATFORM_SUCCESS : PLATFORM_ACCESS_DENIED;
}

namespace {

PlatformStatus OpenIn(const std::string& volume, const char16_t* path, PlatformFile** file) {
  *file = nullptr;
  std::string hostPath;
  if (!HostPath(volume, path, &hostPath)) return PLATFORM_INVALID_PARAMETER;
  int fd = open(hostPath.c_str(), O_RDONLY);
  if (fd < 0) return StatusOf(errno);
  struct stat info{};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(fd);
    return PLATFORM_ACCESS_DENIED;
  }
  gOpenFile.fd = fd;
  *file = &gOpenFile;
  return PLATFORM_SUCCESS;
}

}  // namespace

PlatformStatus PlatformOpenFile(const char16_t* path, PlatformFile** file) { return OpenIn(VolumeDirectory(), path, file); }

PlatformStatus PlatformOpenToolVolume() {
  const std::string volume = ToolVolumeDirectory();
  struct stat info{};
  return !volume.empty() && stat(volume.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? PLATFORM_SUCCESS
                                                                                        : PLATFORM_NOT_FOUND;
}

PlatformStatus PlatformOpenToolFile(const char16_t* path, PlatformFile** file) {
  *file = nullptr;
  if (PlatformIsError(PlatformOpenToolVolume())) return PLATFORM_NOT_FOUND;
  return OpenIn(ToolVolumeDirectory(), path, file);
}

PlatformStatus PlatformReadFile(PlatformFile* file, void* buffer, size_t* size) {
  size_t total = 0;
  while (total < *size) {
    ssize_t n = read(file->fd, static_cast<char*>(buffer) + total, *size - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      *size = 0;
      return PLATFORM_DEVICE_ERROR;
    }
    if (n == 0) break;
    total += static_cast<size_t>(n);
  }
  *size = total;
  return PLATFORM_SUCCESS;
}

void PlatformCloseFile(PlatformFile* file) {
  if (file != nullptr && file->fd >= 0) close(file->fd);
  if (file != nullptr) file->fd = -1;
}
