// Showing FRU contents: one row's value, the listing of an image, the hex dump.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "fields/field_entry.h"
#include "fru/fru_lint.h"

// " %25s: " with the row's display name, then its value in its display form.
void ShowField(const FieldEntry& row);
// The value as ShowField shows it, without the name and the line end, into
// text (cut to capacity, always ended); its length.
size_t FormatFieldValue(const FieldEntry& row, char* text, size_t capacity);

// Loads into the rows the values the image holds (imageSize valid bytes),
// tracing each row when trace is set.
void LoadFruFields(const uint8_t* image, size_t imageSize, FieldEntry* rows, int rowCount, bool trace);
// Loads the rows as above (traced under -v), then shows every row that has a
// value, in row order.
void ShowFru(const uint8_t* image, size_t imageSize, FieldEntry* rows, int rowCount);

void DumpHex(const uint8_t* bytes, size_t count);

// The longest line a finding makes, place, text and field name included.
constexpr size_t FRU_LINT_LINE_MAX = 160;
// One finding in one line, "Product Info Area: checksum invalid", with the
// field it is about named from the rows ("... (Board Serial Number)").
void FormatFruLintFinding(const FruLintFinding& finding, const FieldEntry* rows, int rowCount, char* line,
                          size_t capacity);
// What a listing says after its fields: every finding, errors too, as a
// "[WARN] " line (a listing reports what it sees and keeps its status).
void ShowFruLint(const FruLintReport& report, const FieldEntry* rows, int rowCount);
// What a verify says after its fields: an error as an "[ERROR] " line (it
// fails the verify), a warning as a "[WARN] " line.
void ShowFruLintByLevel(const FruLintReport& report, const FieldEntry* rows, int rowCount);
