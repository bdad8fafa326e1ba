#include "bmc/port_access.h"

#include "platform/platform.h"
#include "runtime/print.h"

namespace {

// Located on the first access and kept for the rest of the run.
const PlatformCpuIo* gCpuIo2 = nullptr;

// Statuses print as the signed decimal of their low 32 bits (EFI_NOT_FOUND shows as 14).
int32_t StatusForPrint(PlatformStatus status) { return static_cast<int32_t>(static_cast<uint32_t>(status)); }

bool LocateCpuIo() {
  if (gCpuIo2 != nullptr) return true;
  const PlatformCpuIo* io = nullptr;
  PlatformStatus status = PlatformLocateCpuIo(&io);
  if (PlatformIsError(status) || io == nullptr) {
    Print("Error! Cannot locate protocol EfiCpuIo2ProtocolGuid. (Status = %d)\n",
          StatusForPrint(PlatformIsError(status) ? status : PLATFORM_NOT_FOUND));
    return false;
  }
  gCpuIo2 = io;
  return true;
}

}  // namespace

void PortRead8(uint16_t port, uint8_t* value) {
  *value = 0xFF;
  if (!LocateCpuIo()) return;
  PlatformStatus status = gCpuIo2->Read8(gCpuIo2->context, port, value);
  if (PlatformIsError(status)) {
    *value = 0xFF;
    Print("Error! Cannot read I/O CFC. (Status = %d)\n", StatusForPrint(status));
  }
}

void PortWrite8(uint16_t port, uint8_t value) {
  if (!LocateCpuIo()) return;
  PlatformStatus status = gCpuIo2->Write8(gCpuIo2->context, port, value);
  if (PlatformIsError(status)) Print("Error! Cannot write I/O CF8. (Status = %d)\n", StatusForPrint(status));
}

void ResetPortAccess() { gCpuIo2 = nullptr; }
