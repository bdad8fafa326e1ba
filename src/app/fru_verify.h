// A verify: the FRU as read, compared field by field with the values given,
// and nothing written.
#pragma once

#include "app/run_state.h"

// Once the FRU is in run.original: one line per field given (" %25s: ok" or
// "[ERROR] %s: the FRU holds %s, expected %s"), the lint, then "verified."
// (0) or "mismatch." (1). The lines are kept in run.verify for the record.
int VerifyFru(RunState& run);

// Two values of one field are the same: type and bytes, or both empty or
// absent (a fixed field has no type of its own).
bool SameFieldValue(const FieldEntry& a, const FieldEntry& b);

// A value as a listing shows it, or "nothing" for a field that is empty or
// absent; into text (RUN_VALUE_TEXT_MAX bytes).
void ShowValueText(const FieldEntry& row, char* text);
