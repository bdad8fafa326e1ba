// The way a run reaches its FRU, located once at the start of the BMC's part
// of the run: a device of the platform's own, or the IPMI FRU device over the
// platform's message transport or over the KCS interface at the CPU I/O ports.
#pragma once

#include "bmc/fru_storage.h"
#include "bmc/ipmi_fru_device.h"
#include "bmc/kcs_transport.h"
#include "platform/platform.h"

struct FruAccessOptions {
  KcsWaitSchedule kcsWaits = KcsWaitSchedule::Backoff;
};

// Holds pointers into itself once open: it stays where it was opened.
struct FruAccess {
  PlatformFruAccess platform;
  KcsTransport kcs;
  IpmiFruDevice ipmi;
  FruDevice device;
};

// Locates the platform's way to the FRU afresh (each run in a process does),
// forgetting any port access located before.
void OpenFruAccess(FruAccess* access, const FruAccessOptions& options = {});

// The line that refuses an edit or a clear before anything is sent, or null to
// go ahead; holdsFru: the FRU as read has a valid Common Header or is blank
// (see PlatformFruAccess::RefuseWrite).
const char* FruWriteRefusal(const FruAccess& access, bool holdsFru);
// The same for a clear (see PlatformFruAccess::RefuseClear).
const char* FruClearRefusal(const FruAccess& access, bool holdsFru);
