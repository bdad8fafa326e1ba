// The few UEFI types the firmware backend uses, laid out as UEFI and PI
// firmware lays them out. Only the members we call are named; the others are
// kept as placeholders so that every offset stays right.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The x86_64-windows target already uses the UEFI calling convention.
#define EFIAPI

using EFI_STATUS = uint64_t;
using EFI_HANDLE = void*;
using EFI_EVENT = void*;
using UINTN = uint64_t;
using CHAR16 = char16_t;

constexpr EFI_STATUS EFI_SUCCESS = 0;
constexpr EFI_STATUS EFI_ERROR_BIT = 0x8000000000000000ULL;
constexpr EFI_STATUS EFI_NOT_FOUND = EFI_ERROR_BIT | 14;
constexpr EFI_STATUS EFI_ACCESS_DENIED = EFI_ERROR_BIT | 15;

struct EFI_GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
static_assert(sizeof(EFI_GUID) == 16);

struct EFI_TABLE_HEADER {
  uint64_t Signature;
  uint32_t Revision;
  uint32_t HeaderSize;
  uint32_t CRC32;
  uint32_t Reserved;
};

struct EFI_INPUT_KEY {
  uint16_t ScanCode;
  CHAR16 UnicodeChar;
};

struct EFI_SIMPLE_TEXT_INPUT_PROTOCOL {
  EFI_STATUS(EFIAPI* Reset)(EFI_SIMPLE_TEXT_INPUT_PROTOCOL* self, bool extendedVerification);
  EFI_STATUS(EFIAPI* ReadKeyStroke)(EFI_SIMPLE_TEXT_INPUT_PROTOCOL* self, EFI_INPUT_KEY* key);
  EFI_EVENT WaitForKey;
};

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  EFI_STATUS(EFIAPI* Reset)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* self, bool extendedVerification);
  EFI_STATUS(EFIAPI* OutputString)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* self, const CHAR16* text);
  // TestString, QueryMode, SetMode, SetAttribute, ClearScreen, SetCursorPosition, EnableCursor, Mode follow.
};

struct EFI_TIME {
  uint16_t Year;
  uint8_t Month;
  uint8_t Day;
  uint8_t Hour;
  uint8_t Minute;
  uint8_t Second;
  uint8_t Pad1;
  uint32_t Nanosecond;
  int16_t TimeZone;
  uint8_t Daylight;
  uint8_t Pad2;
};
static_assert(sizeof(EFI_TIME) == 16);

struct EFI_RUNTIME_SERVICES {
  EFI_TABLE_HEADER Hdr;
  EFI_STATUS(EFIAPI* GetTime)(EFI_TIME* time, void* capabilities);
  // SetTime and the rest follow.
};

struct EFI_BOOT_SERVICES {
  EFI_TABLE_HEADER Hdr;
  void* RaiseTPL;
  void* RestoreTPL;
  void* AllocatePages;
  void* FreePages;
  void* GetMemoryMap;
  void* AllocatePool;
  void* FreePool;
  void* CreateEvent;
  void* SetTimer;
  EFI_STATUS(EFIAPI* WaitForEvent)(UINTN count, EFI_EVENT* events, UINTN* index);
  void* SignalEvent;
  void* CloseEvent;
  void* CheckEvent;
  void* InstallProtocolInterface;
  void* ReinstallProtocolInterface;
  void* UninstallProtocolInterface;
  EFI_STATUS(EFIAPI* HandleProtocol)(EFI_HANDLE handle, const EFI_GUID* protocol, void** interface);
  void* Reserved;
  void* RegisterProtocolNotify;
  void* LocateHandle;
  void* LocateDevicePath;
  EFI_STATUS(EFIAPI* InstallConfigurationTable)(const EFI_GUID* guid, void* table);
  void* LoadImage;
  void* StartImage;
  void* Exit;
  void* UnloadImage;
  void* ExitBootServices;
  void* GetNextMonotonicCount;
  EFI_STATUS(EFIAPI* Stall)(UINTN microseconds);
  void* SetWatchdogTimer;
  void* ConnectController;
  void* DisconnectController;
  void* OpenProtocol;
  void* CloseProtocol;
  void* OpenProtocolInformation;
  void* ProtocolsPerHandle;
  void* LocateHandleBuffer;
  EFI_STATUS(EFIAPI* LocateProtocol)(const EFI_GUID* protocol, void* registration, void** interface);
};
static_assert(offsetof(EFI_BOOT_SERVICES, Stall) == 24 + 28 * 8);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 24 + 37 * 8);

struct EFI_CONFIGURATION_TABLE {
  EFI_GUID VendorGuid;
  void* VendorTable;
};

struct EFI_SYSTEM_TABLE {
  EFI_TABLE_HEADER Hdr;
  CHAR16* FirmwareVendor;
  uint32_t FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL* ConIn;
  EFI_HANDLE ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* ConOut;
  EFI_HANDLE StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* StdErr;
  EFI_RUNTIME_SERVICES* RuntimeServices;
  EFI_BOOT_SERVICES* BootServices;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE* ConfigurationTable;
};
static_assert(offsetof(EFI_SYSTEM_TABLE, ConfigurationTable) == 112);

// PI: byte access to I/O ports.
enum EFI_CPU_IO_PROTOCOL_WIDTH : uint32_t { EfiCpuIoWidthUint8 = 0 };
struct EFI_CPU_IO2_PROTOCOL;
struct EFI_CPU_IO_PROTOCOL_ACCESS {
  EFI_STATUS(EFIAPI* Read)(EFI_CPU_IO2_PROTOCOL* self, EFI_CPU_IO_PROTOCOL_WIDTH width, uint64_t address, UINTN count,
                           void* buffer);
  EFI_STATUS(EFIAPI* Write)(EFI_CPU_IO2_PROTOCOL* self, EFI_CPU_IO_PROTOCOL_WIDTH width, uint64_t address, UINTN count,
                            void* buffer);
};
struct EFI_CPU_IO2_PROTOCOL {
  EFI_CPU_IO_PROTOCOL_ACCESS Mem;
  EFI_CPU_IO_PROTOCOL_ACCESS Io;
};

struct EFI_FILE_PROTOCOL {
  uint64_t Revision;
  EFI_STATUS(EFIAPI* Open)(EFI_FILE_PROTOCOL* self, EFI_FILE_PROTOCOL** handle, const CHAR16* name, uint64_t mode,
                           uint64_t attributes);
  EFI_STATUS(EFIAPI* Close)(EFI_FILE_PROTOCOL* self);
  void* Delete;
  EFI_STATUS(EFIAPI* Read)(EFI_FILE_PROTOCOL* self, UINTN* size, void* buffer);
  void* Write;
  void* GetPosition;
  void* SetPosition;
  EFI_STATUS(EFIAPI* GetInfo)(EFI_FILE_PROTOCOL* self, const EFI_GUID* type, UINTN* size, void* buffer);
  // SetInfo, Flush and the revision 2 members follow.
};
static_assert(offsetof(EFI_FILE_PROTOCOL, GetInfo) == 64);

// What GetInfo with EFI_FILE_INFO_ID gives: the fixed part, then the name.
struct EFI_FILE_INFO {
  uint64_t Size;
  uint64_t FileSize;
  uint64_t PhysicalSize;
  EFI_TIME CreateTime;
  EFI_TIME LastAccessTime;
  EFI_TIME ModificationTime;
  uint64_t Attribute;
  // CHAR16 FileName[] follows.
};
static_assert(offsetof(EFI_FILE_INFO, Attribute) == 72);
constexpr uint64_t EFI_FILE_DIRECTORY = 0x10;

// Only the fields up to the device the image was loaded from.
struct EFI_LOADED_IMAGE_PROTOCOL {
  uint32_t Revision;
  EFI_HANDLE ParentHandle;
  void* SystemTable;
  EFI_HANDLE DeviceHandle;
};
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, DeviceHandle) == 24);

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  uint64_t Revision;
  EFI_STATUS(EFIAPI* OpenVolume)(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL* self, EFI_FILE_PROTOCOL** root);
};

constexpr uint64_t EFI_FILE_MODE_READ = 0x0000000000000001ULL;

// The UEFI shell's arguments for the running image.
struct EFI_SHELL_PARAMETERS_PROTOCOL {
  CHAR16** Argv;
  UINTN Argc;
  void* StdIn;
  void* StdOut;
  void* StdErr;
};

constexpr EFI_GUID EFI_CPU_IO2_PROTOCOL_GUID = {0xAD61F191, 0xAE5F, 0x4C0E, {0xB9, 0xFA, 0xE8, 0x69, 0xD2, 0x88, 0xC6, 0x4F}};
constexpr EFI_GUID EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID = {
    0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
constexpr EFI_GUID EFI_LOADED_IMAGE_PROTOCOL_GUID = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
constexpr EFI_GUID EFI_SHELL_PARAMETERS_PROTOCOL_GUID = {
    0x752F3136, 0x4E16, 0x4FDC, {0xA2, 0x2A, 0xE5, 0xF4, 0x68, 0x12, 0xF4, 0xCA}};
constexpr EFI_GUID EFI_FILE_INFO_ID = {0x09576E92, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
constexpr EFI_GUID SMBIOS_TABLE_GUID = {0xEB9D2D31, 0x2D88, 0x11D3, {0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
constexpr EFI_GUID SMBIOS3_TABLE_GUID = {0xF2FD1544, 0x9794, 0x4A2C, {0x99, 0x2E, 0xE5, 0xBB, 0xCF, 0x20, 0xE3, 0x94}};
