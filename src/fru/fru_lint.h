// What the common readers of a FRU reject (errors) and what they accept but
// trips up what consumes them later (warnings), checked over an image's bytes.
// The lint only reads: the listing shows its findings, and an edit is not
// written when the FRU it would leave has an error.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "fru/fru_format.h"

enum class FruLintLevel : uint8_t { Warning, Error };

// One rule per way a FRU goes wrong; FRU_LINT_RULES (fru_lint.cpp) gives each
// its level and its text.
enum class FruLintRule : uint8_t {
  HeaderVersion,
  HeaderChecksum,
  HeaderPad,
  AreaOutside,
  AreasOverlap,
  AreaVersion,
  AreaLengthZero,
  AreaPastEnd,
  AreaChecksum,
  FieldIntoChecksum,
  NoEndOfFields,
  RecordHeaderChecksum,
  RecordVersion,
  RecordChecksum,
  RecordPastEnd,
  RecordNoEndOfList,
  BytesAfterEndOfFields,
  LanguageWithText,
  TextNotPrintable,
  PlaceholderValue,
  EmptySerialNumber,
  DateUnspecified,
  OverReaderCap,
  Count,
};

struct FruLintRuleRow {
  FruLintRule rule;  // its own index, so that the table can be checked row by row
  FruLintLevel level;
  const char* text;
};
extern const FruLintRuleRow FRU_LINT_RULES[static_cast<int>(FruLintRule::Count)];

// Where a finding lies: one of the five areas (FRU_AREA_*), or these.
constexpr uint8_t FRU_LINT_HEADER = FRU_AREA_COUNT;
constexpr uint8_t FRU_LINT_WHOLE = FRU_AREA_COUNT + 1;
constexpr uint8_t FRU_LINT_PLACE_COUNT = FRU_AREA_COUNT + 2;
// "Common Header", "Product Info Area", ..., "FRU".
const char* FruLintPlaceName(uint8_t place);

// The readers that cap what they read stop at 512 bytes (OpenBMC's FruDevice).
constexpr size_t FRU_LINT_READER_CAP = 512;

constexpr int8_t FRU_LINT_NO_ENTRY = -1;

struct FruLintFinding {
  FruLintRule rule;
  uint8_t place;
  int8_t entry;   // the field a field rule is about (entry number), or FRU_LINT_NO_ENTRY
  uint8_t overlapping[2];  // the two areas of an overlap, in area order
  uint16_t offset;  // the byte of the image where it shows
};

// Enough for every area to show several findings; later ones are counted, not kept.
constexpr int FRU_LINT_FINDINGS_MAX = 32;
struct FruLintReport {
  FruLintFinding findings[FRU_LINT_FINDINGS_MAX];
  int count;
  int errorCount;  // errors found, kept or not
  int dropped;     // findings past FRU_LINT_FINDINGS_MAX
};

// Empties a report.
void ClearFruLint(FruLintReport* report);
// Lints the image (size bytes: the inventory) into report.
void LintFru(const uint8_t* image, size_t size, FruLintReport* report);

inline FruLintLevel FruLintLevelOf(const FruLintFinding& finding) {
  return FRU_LINT_RULES[static_cast<int>(finding.rule)].level;
}
inline const char* FruLintText(const FruLintFinding& finding) {
  return FRU_LINT_RULES[static_cast<int>(finding.rule)].text;
}
