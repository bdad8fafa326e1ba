// The value handlers of the three rows whose values the tool checks or produces.
#pragma once

#include <stdint.h>

#include "fields/field_entry.h"

// BDT: a typed date YYYY/MM/DD or, alone, the system clock, as minutes since 1996-01-01 00:00.
int32_t HandleMfgDate(const char* rest, FieldEntry* row);
// CTY: a chassis type from 0 to 36.
int32_t HandleChassisType(const char* rest, FieldEntry* row);
// BPN: alone, the board product name from SMBIOS; with "=", declined.
int32_t HandleBoardProductName(const char* rest, FieldEntry* row);

