// A test tool for the firmware tests: removes the SMBIOS 2.x entry point from
// the configuration table, leaving a platform that offers only SMBIOS 3.x.
#include "platform/uefi/uefi_types.h"

extern "C" EFI_STATUS EFIAPI EfiMain(EFI_HANDLE, EFI_SYSTEM_TABLE* systemTable) {
  EFI_STATUS status = systemTable->BootServices->InstallConfigurationTable(&SMBIOS_TABLE_GUID, nullptr);
  systemTable->ConOut->OutputString(systemTable->ConOut, status == EFI_SUCCESS ? u"SMBIOS 2.x entry point removed\r\n"
                                                                               : u"SMBIOS 2.x entry point not removed\r\n");
  return status;
}
