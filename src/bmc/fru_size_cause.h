// The line that names why Get FRU Inventory Area Info failed, printed after
// "[ERROR] Get FRU size error": the operator learns whether the FRU is absent,
// the BMC does not do FRU inventory, or the session lacks the privilege.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

// Nothing when the device has printed its own lines.
void PrintFruSizeCause(const PlatformFruSize& answer, int32_t fruId);
