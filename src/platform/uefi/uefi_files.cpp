// The first volume's files as the firmware offers them: the first simple
// file system instance, its root folder, and files opened relative to it.
#include "platform/platform.h"
#include "platform/uefi/uefi_globals.h"

struct PlatformFile {
  EFI_FILE_PROTOCOL* handle;
};

namespace {

EFI_SIMPLE_FILE_SYSTEM_PROTOCOL* gFileSystem = nullptr;
EFI_FILE_PROTOCOL* gRoot = nullptr;
PlatformFile gFile{nullptr};

// Room for the file information and a name of 255 characters.
constexpr size_t FILE_INFO_BUFFER_SIZE = sizeof(EFI_FILE_INFO) + 256 * sizeof(CHAR16);

// True only when the firmware says the handle is not a folder; a handle it
// cannot describe is not taken for a file.
bool IsPlainFile(EFI_FILE_PROTOCOL* handle) {
  alignas(EFI_FILE_INFO) uint8_t buffer[FILE_INFO_BUFFER_SIZE];
  UINTN size = sizeof(buffer);
  if (handle->GetInfo == nullptr || handle->GetInfo(handle, &EFI_FILE_INFO_ID, &size, buffer) != EFI_SUCCESS ||
      size < sizeof(EFI_FILE_INFO)) {
    return false;
  }
  return (reinterpret_cast<const EFI_FILE_INFO*>(buffer)->Attribute & EFI_FILE_DIRECTORY) == 0;
}

}  // namespace

PlatformStatus PlatformLocateFileSystem() {
  return gBS->LocateProtocol(&EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, nullptr, reinterpret_cast<void**>(&gFileSystem));
}

PlatformStatus PlatformOpenVolume() { return gFileSystem->OpenVolume(gFileSystem, &gRoot); }

PlatformStatus PlatformOpenFile(const char16_t* path, PlatformFile** file) {
  *file = nullptr;
  EFI_FILE_PROTOCOL* handle = nullptr;
  EFI_STATUS status = gRoot->Open(gRoot, &handle, path, EFI_FILE_MODE_READ, 0);
  if (status != EFI_SUCCESS || handle == nullptr) return status;
  // A folder opens like a file and reads as its directory entries: only a file is handed on.
  if (!IsPlainFile(handle)) {
    handle->Close(handle);
    return EFI_ACCESS_DENIED;
  }
  gFile.handle = handle;
  *file = &gFile;
  return status;
}

PlatformStatus PlatformReadFile(PlatformFile* file, void* buffer, size_t* size) {
  UINTN count = *size;
  EFI_STATUS status = file->handle->Read(file->handle, &count, buffer);
  *size = status == EFI_SUCCESS ? count : 0;
  return status;
}

void PlatformCloseFile(PlatformFile* file) {
  if (file != nullptr && file->handle != nullptr) file->handle->Close(file->handle);
  if (file != nullptr) file->handle = nullptr;
}

