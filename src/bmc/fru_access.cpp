#include "bmc/fru_access.h"

#include "bmc/port_access.h"

void OpenFruAccess(FruAccess* access, const FruAccessOptions& options) {
  ResetPortAccess();
  PlatformFruAccess located{};
  // A platform that cannot say leaves the KCS interface, which is what the firmware has.
  if (PlatformIsError(PlatformLocateFruAccess(&located))) located = PlatformFruAccess{};
  if (located.kind == PlatformFruAccessKind::Transport && located.transport == nullptr) located = PlatformFruAccess{};
  if (located.kind == PlatformFruAccessKind::Device && located.device == nullptr) located = PlatformFruAccess{};
  access->platform = located;
  switch (located.kind) {
    case PlatformFruAccessKind::Device:
      access->device = FruDevice{located.device, false, false, false};
      return;
    case PlatformFruAccessKind::Transport:
      OpenIpmiFruDevice(&access->ipmi, located.transport);
      break;
    case PlatformFruAccessKind::Ports:
      OpenKcsTransport(&access->kcs, options.kcsWaits);
      OpenIpmiFruDevice(&access->ipmi, &access->kcs.transport);
      break;
  }
  access->device = FruDevice{&access->ipmi.device, false, false, false};
}

const char* FruWriteRefusal(const FruAccess& access, bool holdsFru) {
  if (access.platform.RefuseWrite == nullptr) return nullptr;
  return access.platform.RefuseWrite(access.platform.refuseContext, holdsFru);
}

const char* FruClearRefusal(const FruAccess& access, bool holdsFru) {
  if (access.platform.RefuseClear == nullptr) return FruWriteRefusal(access, holdsFru);
  return access.platform.RefuseClear(access.platform.refuseContext, holdsFru);
}
