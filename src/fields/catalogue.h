// The field catalogue: the 40 FRU fields the tool can set, in the fixed order
// in which they are matched, applied and listed.
#pragma once

#include "fields/field_entry.h"
#include "fru/fru_format.h"

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


// The manufacturing date's row (Board Info Area, fixed field 1).
constexpr uint8_t FIELD_MFG_DATE_ENTRY = 1;
inline bool IsMfgDateRow(const FieldEntry& row) {
  return row.Area == FRU_AREA_BOARD && row.Entry == FIELD_MFG_DATE_ENTRY;
}
