// Field values from a bar-code scanner that types like a keyboard: every code
// is scanned twice, and only two equal entries are taken.
#pragma once

#include "fields/field_entry.h"

enum class ScanResult { Accepted, Mismatch };

// How often a code is scanned: twice where it is to be written (a bad scan
// would be stored), once where it is compared with what the FRU holds (a bad
// scan only shows as a mismatch, and a label is read as it was scanned).
enum class ScanTrials { Twice, Once };

// Prompts for the row (its label built from rest and its display name) and,
// when the scans agree, leaves the accepted text in value (256 bytes).
ScanResult ScanValue(const FieldEntry& row, const char* rest, char* value, ScanTrials trials = ScanTrials::Twice);

constexpr int SCANNER_BUFFER_SIZE = 256;
