// The volumes' files as the firmware offers them: the first simple file
// system instance and the one the tool was loaded from, their root folders,
// and files opened relative to them.
#include "platform/platform.h"
#include "platform/uefi/uefi_globals.h"

struct PlatformFile {
  EFI_FILE_PROTOCOL* handle;
};

namespace {

EFI_SIMPLE_FILE_SYSTEM_PROTOCOL* gFileSystem = nullptr;
EFI_FILE_PROTOCOL* gRoot = nullptr;
EFI_FILE_PROTOCOL* gToolRoot = nullptr;
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

PlatformStatus OpenIn(EFI_FILE_PROTOCOL* root, const char16_t* path, PlatformFile** file) {
  *file = nullptr;
  if (root == nullptr) return EFI_NOT_FOUND;
  EFI_FILE_PROTOCOL* handle = nullptr;
  EFI_STATUS status = root->Open(root, &handle, path, EFI_FILE_MODE_READ, 0);
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

}  // namespace

PlatformStatus PlatformLocateFileSystem() {
  return gBS->LocateProtocol(&EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, nullptr, reinterpret_cast<void**>(&gFileSystem));
}

PlatformStatus PlatformOpenVolume() { return gFileSystem->OpenVolume(gFileSystem, &gRoot); }

PlatformStatus PlatformOpenFile(const char16_t* path, PlatformFile** file) { return OpenIn(gRoot, path, file); }

// The loaded image names the device it came from; a file system on that
// device that is not the first instance is the tool's own volume.
PlatformStatus PlatformOpenToolVolume() {
  gToolRoot = nullptr;
  EFI_LOADED_IMAGE_PROTOCOL* image = nullptr;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL* volume = nullptr;
  if (gBS->HandleProtocol == nullptr ||
      gBS->HandleProtocol(gImageHandle, &EFI_LOADED_IMAGE_PROTOCOL_GUID, reinterpret_cast<void**>(&image)) !=
          EFI_SUCCESS ||
      image == nullptr ||
      gBS->HandleProtocol(image->DeviceHandle, &EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID,
                          reinterpret_cast<void**>(&volume)) != EFI_SUCCESS ||
      volume == nullptr || volume == gFileSystem) {
    return EFI_NOT_FOUND;
  }
  EFI_STATUS status = volume->OpenVolume(volume, &gToolRoot);
  return status == EFI_SUCCESS && gToolRoot != nullptr ? EFI_SUCCESS : EFI_NOT_FOUND;
}

PlatformStatus PlatformOpenToolFile(const char16_t* path, PlatformFile** file) { return OpenIn(gToolRoot, path, file); }

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

