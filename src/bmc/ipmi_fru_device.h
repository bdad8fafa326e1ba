// A BMC's FRU reached through IPMI over any transport: Get Device ID for the
// identity, Get FRU Inventory Area Info for the size, Read and Write FRU Data
// for one chunk each.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

#ifndef TAGFORGE_MANUFACTURER_IDS
#define TAGFORGE_MANUFACTURER_IDS 32473
#endif
// The IANA enterprise numbers of the BMCs this build supports, all 24 bits
// compared (the platform may name others for a run).
constexpr uint32_t BMC_BUILD_MANUFACTURER_IDS[] = {TAGFORGE_MANUFACTURER_IDS};

struct IpmiFruDevice {
  const PlatformIpmiTransport* transport;
  bool answered;  // the last request got an answer (any completion code)
  PlatformFruDevice device;
};

// Makes fru->device reach the BMC's FRU through transport.
void OpenIpmiFruDevice(IpmiFruDevice* fru, const PlatformIpmiTransport* transport);

// Get Device ID, up to five attempts; prints the revision line on success
// and, when asked, keeps the manufacturer and product IDs in *identity.
bool CheckBmcIdentity(IpmiFruDevice& fru, PlatformBmcIdentity* identity = nullptr);

// Get Device GUID, once: identity->hasGuid says whether the BMC gave one.
void AskDeviceGuid(IpmiFruDevice& fru, PlatformBmcIdentity* identity);
