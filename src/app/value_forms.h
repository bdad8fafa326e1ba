// Turning the text given for a field into the row's value: text, hexadecimal
// bytes, an optional type prefix, or an erase.
#pragma once

#include "fields/field_entry.h"

enum class ValueReadResult {
  Stored,
  TooLarge,  // would not fit Data: nothing was stored, the row's Size is left alone
};

// Reads a value text into the row's Type, Data and Size. The data text after
// a type prefix is taken from prefixSource (the token's rest, or the scanned
// text), as the value text itself came from there.
ValueReadResult ReadValueText(FieldEntry& row, const char* valueText, const char* prefixSource);
