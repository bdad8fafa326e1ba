#include "app/field_walk.h"

#include "app/command_line.h"
#include "fields/catalogue.h"

namespace {

// A row that a token names. Its value forms are taken in a later step of the
// tool's growth; until then a named row stays not given.
FieldWalkResult TakeMatchedRow(FieldEntry&, const char*, RunState&) { return FieldWalkResult::Completed; }

}  // namespace

const char* FindRowRest(const FieldEntry& row, const TokenList& tokens) {
  const char* rest = OptionValue(row.Keyword, tokens);
  if (rest == nullptr && row.AliasName != nullptr) rest = OptionValue(row.AliasKeyword, tokens);
  return rest;
}

FieldWalkResult WalkFieldCatalogue(RunState& run) {
  for (FieldEntry& row : gFieldCatalogue.rows) {
    const char* rest = FindRowRest(row, run.tokens);
    if (rest == nullptr) continue;
    FieldWalkResult result = TakeMatchedRow(row, rest, run);
    if (result != FieldWalkResult::Completed) return result;
  }
  return FieldWalkResult::Completed;
}
