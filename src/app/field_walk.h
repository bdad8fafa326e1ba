// The walk over the field catalogue: each row that a token names takes its
// value, in catalogue order.
#pragma once

#include "app/run_state.h"
#include "fields/field_entry.h"

enum class FieldWalkResult {
  Completed,
  Mismatch,  // a scan did not match: the rows after it were not looked at
  Failed,    // the run ends with status 1; the message has been printed, the driver ends it
};

// The text after the row's keyword (or, when no token holds the keyword, its
// alias) in the first token that holds it; null when the row is not named.
const char* FindRowRest(const FieldEntry& row, const TokenList& tokens);

FieldWalkResult WalkFieldCatalogue(RunState& run);
