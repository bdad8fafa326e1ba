// The machine as the firmware offers it: delays, I/O ports, the SMBIOS entry
// point and the clock (the first volume's files are in uefi_files.cpp).
#include "platform/platform.h"
#include "platform/uefi/uefi_globals.h"

namespace {

EFI_CPU_IO2_PROTOCOL* gCpuIo = nullptr;

PlatformStatus CpuIoRead8(void*, uint16_t port, uint8_t* value) {
  return gCpuIo->Io.Read(gCpuIo, EfiCpuIoWidthUint8, port, 1, value);
}

PlatformStatus CpuIoWrite8(void*, uint16_t port, uint8_t value) {
  return gCpuIo->Io.Write(gCpuIo, EfiCpuIoWidthUint8, port, 1, &value);
}

const PlatformCpuIo gPorts{CpuIoRead8, CpuIoWrite8, nullptr};

constexpr size_t SMBIOS_ENTRY_LENGTH_AT = 5;
constexpr size_t SMBIOS_ENTRY_MIN = 0x1F;
constexpr size_t SMBIOS3_ENTRY_LENGTH_AT = 6;
constexpr size_t SMBIOS3_ENTRY_MIN = 0x18;

// The entry point the configuration table lists under guid, its length read
// at lengthAt and never taken below the structure's own size.
PlatformStatus FindEntryPoint(const EFI_GUID& guid, size_t lengthAt, size_t minimum, const uint8_t** bytes,
                              size_t* length) {
  *bytes = nullptr;
  *length = 0;
  for (UINTN i = 0; i < gST->NumberOfTableEntries; ++i) {
    const EFI_CONFIGURATION_TABLE& entry = gST->ConfigurationTable[i];
    if (!GuidEqual(entry.VendorGuid, guid)) continue;
    if (entry.VendorTable == nullptr) return PLATFORM_NOT_FOUND;
    *bytes = static_cast<const uint8_t*>(entry.VendorTable);
    size_t stated = (*bytes)[lengthAt];
    *length = stated < minimum ? minimum : stated;
    return PLATFORM_SUCCESS;
  }
  return PLATFORM_NOT_FOUND;
}

}  // namespace

void PlatformStall(uint32_t microseconds) { gBS->Stall(microseconds); }

PlatformStatus PlatformLocateCpuIo(const PlatformCpuIo** io) {
  *io = nullptr;
  EFI_STATUS status = gBS->LocateProtocol(&EFI_CPU_IO2_PROTOCOL_GUID, nullptr, reinterpret_cast<void**>(&gCpuIo));
  if (status != EFI_SUCCESS || gCpuIo == nullptr) return status == EFI_SUCCESS ? EFI_NOT_FOUND : status;
  *io = &gPorts;
  return PLATFORM_SUCCESS;
}

PlatformStatus PlatformGetSmbiosEntryPoint(const uint8_t** bytes, size_t* length) {
  return FindEntryPoint(SMBIOS_TABLE_GUID, SMBIOS_ENTRY_LENGTH_AT, SMBIOS_ENTRY_MIN, bytes, length);
}

PlatformStatus PlatformGetSmbios3EntryPoint(const uint8_t** bytes, size_t* length) {
  return FindEntryPoint(SMBIOS3_TABLE_GUID, SMBIOS3_ENTRY_LENGTH_AT, SMBIOS3_ENTRY_MIN, bytes, length);
}

PlatformStatus PlatformGetSmbiosTable(uint64_t address, uint32_t length, const uint8_t** bytes, size_t* available) {
  *bytes = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(address));
  *available = length;
  return address == 0 ? PLATFORM_NOT_FOUND : PLATFORM_SUCCESS;
}

// EFI_TIME holds the local time already; its time zone only says how far that is from UTC.
PlatformStatus PlatformGetLocalTime(PlatformTime* now) {
  EFI_TIME time{};
  EFI_STATUS status = gST->RuntimeServices->GetTime(&time, nullptr);
  if (status != EFI_SUCCESS) return status;
  *now = PlatformTime{time.Year, time.Month, time.Day, time.Hour, time.Minute};
  return PLATFORM_SUCCESS;
}

// The firmware build accepts the BMC makers it was built for.
PlatformStatus PlatformGetManufacturerIds(const uint32_t** ids, size_t* count) {
  *ids = nullptr;
  *count = 0;
  return PLATFORM_NOT_FOUND;
}

// The firmware reaches the BMC through the KCS ports only.
// The firmware reaches the BMC through the KCS interface at the CPU I/O ports.
PlatformStatus PlatformLocateFruAccess(PlatformFruAccess* access) {
  *access = PlatformFruAccess{PlatformFruAccessKind::Ports, nullptr, nullptr, nullptr, nullptr};
  return PLATFORM_SUCCESS;
}

// The firmware runs on the board whose BMC it talks to.
const char* PlatformRemoteBmcName() { return nullptr; }

// The KCS ports are the one way; their lookup says whether a BMC is there.
PlatformStatus PlatformChooseFruDevice() { return PLATFORM_SUCCESS; }

// The firmware keeps no record of a run: the console is its record.
void PlatformReportRun(const PlatformRunSummary&) {}
void PlatformNoteRunSoFar(const PlatformRunSummary&) {}

// The firmware runs alone in its shell: nothing signals it, and the KCS waits have their own bounds.
void PlatformHoldInterruptions() {}
const char* PlatformInterruption() { return nullptr; }
void PlatformRestartBmcWaits() {}

// The firmware has no storage of its own that outlives the run, so it keeps no journal.
PlatformStatus PlatformJournalOpen(int32_t, bool, const char** problem) {
  *problem = nullptr;
  return PLATFORM_UNSUPPORTED;
}
PlatformStatus PlatformJournalFind(PlatformJournalEntry*, const char** problem) {
  *problem = nullptr;
  return PLATFORM_NOT_FOUND;
}
PlatformStatus PlatformJournalRecord(const PlatformJournalEntry&, const char** problem) {
  *problem = nullptr;
  return PLATFORM_UNSUPPORTED;
}
void PlatformJournalRemove() {}
void PlatformJournalSetAside(const char** keptAs) { *keptAs = ""; }
