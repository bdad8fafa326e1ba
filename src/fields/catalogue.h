// The field catalogue: the 40 FRU fields the tool can set, in the fixed order
// in which they are matched, applied and listed.
#pragma once

#include "fields/field_entry.h"

constexpr int FIELD_COUNT = 40;

struct FieldCatalogue {
  FieldEntry rows[FIELD_COUNT];
};

// The program-wide table whose value slots the field walk fills.
extern FieldCatalogue gFieldCatalogue;
// The constant starting contents of every row.
extern const FieldCatalogue FIELD_CATALOGUE_INITIAL;

// Puts every row back to its starting contents (a new run in the same process).
void ResetFieldCatalogue();

