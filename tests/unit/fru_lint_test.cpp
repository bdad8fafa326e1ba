// The lint's rules, one case each on a FRU that is sound but for the one
// fault, and the one line a finding makes.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "fru/fru_display.h"
#include "fru/fru_lint.h"
#include "fru_test_support.h"

namespace {

// Chassis at 8, board at 32, product at 96, one MultiRecord record at 128.
constexpr size_t kBoard = 32, kProduct = 96, kRecords = 128;

Bytes Sound(const std::string& boardSerial = "BSN-1", size_t inventory = 512) {
  return Image(inventory, {0, 1, 4, 12, 16},
               {{1, InfoArea({{0x17}, Text("CPN-1"), Text("CSN-1")})},
                {4, InfoArea({{0x00, 0x20, 0x57, 0xE2}, Text("Acme"), Text("Board"), Text(boardSerial), Text("BPN-1"),
                              {0x00}},
                             8)},
                {12, InfoArea({{0x00}, Text("Acme"), Text("Box"), Text("PPM"), Text("1.0"), Text("PSN-1"), Text(""),
                              {0x00}},
                             4)},
                {16, MultiRecords(24)}});
}

// The checksum of the header, or of the info area at start, made right again
// after a byte of it was changed: only the fault under test remains.
void FixHeader(Bytes& image) { image[7] = ZeroChecksum(image, 7); }
void FixArea(Bytes& image, size_t start) {
  const size_t length = image[start + 1] * 8u;
  Bytes area(image.begin() + static_cast<long>(start), image.begin() + static_cast<long>(start + length - 1));
  image[start + length - 1] = ZeroChecksum(area, area.size());
}
void FixRecordHeader(Bytes& image, size_t record) {
  Bytes header(image.begin() + static_cast<long>(record), image.begin() + static_cast<long>(record + 4));
  image[record + 4] = ZeroChecksum(header, 4);
}

Bytes Changed(std::function<void(Bytes&)> change, Bytes image = Sound()) {
  change(image);
  return image;
}

// An error stops an edit; a warning is only said. Each case states which it
// expects rather than reading it from the lint's own table.
enum Level : bool { kWarning = false, kError = true };

struct Case {
  const char* name;
  Bytes image;
  FruLintRule rule;
  uint8_t place;
  size_t offset;
  Level level;
};

std::vector<Case> Cases() {
  const size_t productEnd = kProduct + 32;
  const size_t productEndMarker = kProduct + 28;  // after the language byte and the seven fields
  return {
      {"header version 2", Changed([](Bytes& i) { i[0] = 2; FixHeader(i); }), FruLintRule::HeaderVersion,
       FRU_LINT_HEADER, 0, kError},
      {"header checksum", Changed([](Bytes& i) { i[7] ^= 1; }), FruLintRule::HeaderChecksum, FRU_LINT_HEADER, 7, kError},
      {"header pad", Changed([](Bytes& i) { i[6] = 1; FixHeader(i); }), FruLintRule::HeaderPad, FRU_LINT_HEADER, 6, kError},
      {"product offset past the FRU", Changed([](Bytes& i) { i[4] = 64; FixHeader(i); }), FruLintRule::AreaOutside,
       FRU_AREA_PRODUCT, 4, kError},
      {"board starts inside chassis", Changed([](Bytes& i) { i[3] = 2; FixHeader(i); }), FruLintRule::AreasOverlap,
       FRU_LINT_HEADER, 16, kError},
      {"internal use inside chassis", Changed([](Bytes& i) { i[1] = 2; FixHeader(i); }), FruLintRule::AreasOverlap,
       FRU_LINT_HEADER, 16, kError},
      {"board version 2", Changed([](Bytes& i) { i[kBoard] = 2; FixArea(i, kBoard); }), FruLintRule::AreaVersion,
       FRU_AREA_BOARD, kBoard, kError},
      {"product length 0", Changed([](Bytes& i) { i[kProduct + 1] = 0; }), FruLintRule::AreaLengthZero,
       FRU_AREA_PRODUCT, kProduct + 1, kError},
      {"product past the FRU", Changed([](Bytes& i) { i[kProduct + 1] = 60; }), FruLintRule::AreaPastEnd,
       FRU_AREA_PRODUCT, kProduct + 1, kError},
      {"product checksum", Changed([=](Bytes& i) { i[productEnd - 1] ^= 1; }), FruLintRule::AreaChecksum,
       FRU_AREA_PRODUCT, productEnd - 1, kError},
      // The field's last byte just before the checksum byte is sound (only the marker is missing); one byte more is not.
      {"field ends right before the checksum", Changed([=](Bytes& i) {
         i[productEndMarker] = 0xC2;
         i[productEndMarker + 1] = i[productEndMarker + 2] = 'A';
         FixArea(i, kProduct);
       }),
       FruLintRule::NoEndOfFields, FRU_AREA_PRODUCT, productEnd - 1, kError},
      {"field ends on the checksum byte", Changed([=](Bytes& i) { i[productEndMarker] = 0xC3; FixArea(i, kProduct); }),
       FruLintRule::FieldIntoChecksum, FRU_AREA_PRODUCT, productEndMarker, kError},
      {"no end-of-fields marker", Changed([=](Bytes& i) { i[productEndMarker] = 0x00; FixArea(i, kProduct); }),
       FruLintRule::NoEndOfFields, FRU_AREA_PRODUCT, productEnd - 1, kError},
      {"record header checksum", Changed([](Bytes& i) { i[kRecords + 4] ^= 1; }), FruLintRule::RecordHeaderChecksum,
       FRU_AREA_MULTIRECORD, kRecords, kError},
      {"record version 3",
       Changed([](Bytes& i) { i[kRecords + 1] = 0x83; FixRecordHeader(i, kRecords); }), FruLintRule::RecordVersion,
       FRU_AREA_MULTIRECORD, kRecords + 1, kError},
      {"record data checksum", Changed([](Bytes& i) { i[kRecords + 6] ^= 1; }), FruLintRule::RecordChecksum,
       FRU_AREA_MULTIRECORD, kRecords + 3, kError},
      {"record past the FRU", Changed([](Bytes& i) { i[kRecords + 2] = 200; FixRecordHeader(i, kRecords); },
                                      Sound("BSN-1", 256)),
       FruLintRule::RecordPastEnd, FRU_AREA_MULTIRECORD, kRecords, kError},
      {"no end-of-list bit at the FRU's end",
       Changed([](Bytes& i) { i[kRecords + 1] = 0x02; FixRecordHeader(i, kRecords); }, Sound("BSN-1", kRecords + 24)),
       FruLintRule::RecordNoEndOfList, FRU_AREA_MULTIRECORD, kRecords + 24, kError},
      // Zeros follow: the walk must name the missing bit, not a record of version 0 that is not there.
      {"no end-of-list bit, zeros after the last record",
       Changed([](Bytes& i) { i[kRecords + 1] = 0x02; FixRecordHeader(i, kRecords); }, Sound("BSN-1", kRecords + 64)),
       FruLintRule::RecordNoEndOfList, FRU_AREA_MULTIRECORD, kRecords + 1, kError},
      {"bytes after the end marker", Changed([=](Bytes& i) { i[productEndMarker + 2] = 0x55; FixArea(i, kProduct); }),
       FruLintRule::BytesAfterEndOfFields, FRU_AREA_PRODUCT, productEndMarker + 2, kWarning},
      {"board language 2 with 8-bit text", Changed([](Bytes& i) { i[kBoard + 2] = 2; FixArea(i, kBoard); }),
       FruLintRule::LanguageWithText, FRU_AREA_BOARD, kBoard + 2, kWarning},
      {"a bell in the board manufacturer", Changed([](Bytes& i) { i[kBoard + 8] = 0x07; FixArea(i, kBoard); }),
       FruLintRule::TextNotPrintable, FRU_AREA_BOARD, kBoard + 8, kWarning},
      {"board serial Default string", Sound("Default string"), FruLintRule::PlaceholderValue, FRU_AREA_BOARD,
       kBoard + 17, kWarning},
      {"board serial to be filled", Sound("To Be Filled By O.E.M."), FruLintRule::PlaceholderValue, FRU_AREA_BOARD,
       kBoard + 17, kWarning},
      {"board serial empty", Sound(""), FruLintRule::EmptySerialNumber, FRU_AREA_BOARD, kBoard + 17, kWarning},
      {"date 0", Changed([](Bytes& i) { i[kBoard + 3] = i[kBoard + 4] = i[kBoard + 5] = 0; FixArea(i, kBoard); }),
       FruLintRule::DateUnspecified, FRU_AREA_BOARD, kBoard + 3, kWarning},
      {"600 bytes used", Image(1024, {0, 0, 0, 0, 1}, {{1, MultiRecords(592)}}), FruLintRule::OverReaderCap,
       FRU_LINT_WHOLE, 599, kWarning},
  };
}

std::string Lines(const FruLintReport& report) {
  std::string text;
  char line[FRU_LINT_LINE_MAX];
  for (int i = 0; i < report.count; ++i) {
    FormatFruLintFinding(report.findings[i], gFieldCatalogue.rows, FIELD_COUNT, line, sizeof(line));
    text += std::string(line) + " @" + std::to_string(report.findings[i].offset) + "\n";
  }
  return text;
}

class FruLint : public FruTest {};

TEST_F(FruLint, ASoundFruHasNoFinding) {
  FruLintReport report;
  LintFru(Sound().data(), 512, &report);
  EXPECT_EQ(report.count, 0) << Lines(report);
}

TEST_F(FruLint, EachFaultIsFoundWhereItLiesAndAWarningIsNoError) {
  std::set<FruLintRule> covered;
  for (const Case& c : Cases()) {
    FruLintReport report;
    LintFru(c.image.data(), c.image.size(), &report);
    bool found = false;
    for (int i = 0; i < report.count; ++i) {
      const FruLintFinding& f = report.findings[i];
      found = found || (f.rule == c.rule && f.place == c.place && f.offset == c.offset);
    }
    EXPECT_TRUE(found) << c.name << ":\n" << Lines(report);
    EXPECT_EQ(report.errorCount > 0, c.level == kError) << c.name << ":\n" << Lines(report);
    // One fault, one finding of its rule: a rule that also fires at a neighbouring byte is off by one.
    int ofRule = 0;
    for (int i = 0; i < report.count; ++i) ofRule += report.findings[i].rule == c.rule ? 1 : 0;
    EXPECT_EQ(ofRule, 1) << c.name << ":\n" << Lines(report);
    covered.insert(c.rule);
  }
  // Every row of the rules table has its case.
  EXPECT_EQ(covered.size(), static_cast<size_t>(FruLintRule::Count));
}

TEST_F(FruLint, AFindingIsOneLineThatNamesItsPlaceAndField) {
  FruLintReport report;
  Bytes image = Sound("");
  image[kProduct + 31] ^= 1;
  image[1] = 2;
  FixHeader(image);
  LintFru(image.data(), image.size(), &report);
  ShowFruLint(report, gFieldCatalogue.rows, FIELD_COUNT);
  EXPECT_EQ(TakeConsole(),
            "[WARN] Board Info Area: serial number is empty (Board Serial Number)\n"
            "[WARN] Product Info Area: checksum invalid\n"
            "[WARN] Common Header: areas overlap (Internal Use Area, Chassis Info Area)\n");
}

}  // namespace
