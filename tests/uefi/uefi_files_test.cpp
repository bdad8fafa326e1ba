// The firmware's file code on the host, against a fake file system: a folder
// opens like a file but is refused before anything is read from it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/uefi/uefi_globals.h"

EFI_HANDLE gImageHandle = nullptr;
EFI_SYSTEM_TABLE* gST = nullptr;
EFI_BOOT_SERVICES* gBS = nullptr;

namespace {

struct FakeFile {
  EFI_FILE_PROTOCOL protocol{};
  uint64_t attribute = 0;
  std::string content;
  int reads = 0;
  int closes = 0;
};

FakeFile gRootFolder;
FakeFile gOpened;
EFI_SIMPLE_FILE_SYSTEM_PROTOCOL gFileSystem{};
EFI_BOOT_SERVICES gBoot{};

FakeFile* Of(EFI_FILE_PROTOCOL* self) { return reinterpret_cast<FakeFile*>(self); }

EFI_STATUS Close(EFI_FILE_PROTOCOL* self) {
  ++Of(self)->closes;
  return EFI_SUCCESS;
}

EFI_STATUS Read(EFI_FILE_PROTOCOL* self, UINTN* size, void* buffer) {
  FakeFile* file = Of(self);
  ++file->reads;
  *size = std::min<UINTN>(*size, file->content.size());
  memcpy(buffer, file->content.data(), *size);
  return EFI_SUCCESS;
}

EFI_STATUS GetInfo(EFI_FILE_PROTOCOL* self, const EFI_GUID*, UINTN* size, void* buffer) {
  if (*size < sizeof(EFI_FILE_INFO)) return EFI_ERROR_BIT | 5;
  EFI_FILE_INFO info{};
  info.Size = sizeof(info);
  info.Attribute = Of(self)->attribute;
  memcpy(buffer, &info, sizeof(info));
  *size = sizeof(info);
  return EFI_SUCCESS;
}

EFI_STATUS Open(EFI_FILE_PROTOCOL*, EFI_FILE_PROTOCOL** handle, const CHAR16*, uint64_t, uint64_t) {
  *handle = &gOpened.protocol;
  return EFI_SUCCESS;
}

EFI_STATUS OpenVolume(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL*, EFI_FILE_PROTOCOL** root) {
  *root = &gRootFolder.protocol;
  return EFI_SUCCESS;
}

EFI_STATUS LocateProtocol(const EFI_GUID*, void*, void** interface) {
  *interface = &gFileSystem;
  return EFI_SUCCESS;
}

void FakeFileProtocol(FakeFile& file, uint64_t attribute, std::string content) {
  file = FakeFile{};
  file.protocol.Open = Open;
  file.protocol.Close = Close;
  file.protocol.Read = Read;
  file.protocol.GetInfo = GetInfo;
  file.attribute = attribute;
  file.content = std::move(content);
}

class UefiFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    gBoot.LocateProtocol = LocateProtocol;
    gBS = &gBoot;
    gFileSystem.OpenVolume = OpenVolume;
    FakeFileProtocol(gRootFolder, EFI_FILE_DIRECTORY, "");
    ASSERT_EQ(PlatformLocateFileSystem(), PLATFORM_SUCCESS);
    ASSERT_EQ(PlatformOpenVolume(), PLATFORM_SUCCESS);
  }
};

TEST_F(UefiFiles, AFolderIsRefusedUnreadAndAFileIsRead) {
  const struct {
    uint64_t attribute;
    bool opens;
  } cases[] = {{EFI_FILE_DIRECTORY, false}, {EFI_FILE_DIRECTORY | 0x01, false}, {0x00, true}, {0x20, true}};
  for (const auto& c : cases) {
    FakeFileProtocol(gOpened, c.attribute, "ID=0\n");
    PlatformFile* file = nullptr;
    PlatformStatus status = PlatformOpenFile(u"sub", &file);
    SCOPED_TRACE(c.attribute);
    if (!c.opens) {
      EXPECT_TRUE(PlatformIsError(status));
      EXPECT_NE(status, PLATFORM_NOT_FOUND);  // never taken for a missing file
      EXPECT_EQ(file, nullptr);
      EXPECT_EQ(gOpened.reads, 0);
      EXPECT_EQ(gOpened.closes, 1);
      continue;
    }
    ASSERT_EQ(status, PLATFORM_SUCCESS);
    char buffer[16] = {};
    size_t size = sizeof(buffer);
    EXPECT_EQ(PlatformReadFile(file, buffer, &size), PLATFORM_SUCCESS);
    EXPECT_EQ(std::string(buffer, size), "ID=0\n");
    PlatformCloseFile(file);
    EXPECT_EQ(gOpened.closes, 1);
  }
}

TEST_F(UefiFiles, AHandleTheFirmwareCannotDescribeIsNotTakenForAFile) {
  FakeFileProtocol(gOpened, 0, "ID=0\n");
  gOpened.protocol.GetInfo = [](EFI_FILE_PROTOCOL*, const EFI_GUID*, UINTN*, void*) -> EFI_STATUS {
    return EFI_ERROR_BIT | 3;  // unsupported
  };
  PlatformFile* file = nullptr;
  EXPECT_TRUE(PlatformIsError(PlatformOpenFile(u"x.txt", &file)));
  EXPECT_EQ(gOpened.reads, 0);
}

}  // namespace
