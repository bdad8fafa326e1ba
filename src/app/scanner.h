// Field values from a bar-code scanner that types like a keyboard: every code
// is scanned twice, and only two equal entries are taken.
#pragma once

#include "fields/field_entry.h"

enum class ScanResult { Accepted, Mismatch };

// Prompts for the row (its label built from rest and its display name) and,
// when both scans agree, leaves the accepted text in value (256 bytes).
ScanResult ScanValue(const FieldEntry& row, const char* rest, char* value);

constexpr int SCANNER_BUFFER_SIZE = 256;
