// What the entry point hands the backend: the image and the system table.
#pragma once

#include "platform/uefi/uefi_types.h"

extern EFI_HANDLE gImageHandle;
extern EFI_SYSTEM_TABLE* gST;
extern EFI_BOOT_SERVICES* gBS;

bool GuidEqual(const EFI_GUID& a, const EFI_GUID& b);
