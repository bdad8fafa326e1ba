#include "fields/catalogue.h"

#include <stddef.h>

#include "fields/field_handlers.h"
#include "fru/fru_format.h"

namespace {

template <size_t N>
constexpr FieldEntry Row(const char (&keyword)[N], uint8_t area, uint8_t entry, const char* name,
                         FieldHandler handler = nullptr) {
  static_assert(N >= 4 && N <= FIELD_KEYWORD_SIZE, "a keyword has 3 or 4 characters");
  FieldEntry row{};
  for (size_t i = 0; i < N; ++i) row.Keyword[i] = keyword[i];
  row.Area = area;
  row.Entry = entry;
  row.Size = FIELD_SIZE_NOT_GIVEN;
  row.Handler = handler;
  row.Name = name;
  row.AliasName = nullptr;
  row.Type = 0x00;
  return row;
}

template <size_t N>
constexpr FieldEntry Alias(FieldEntry row, const char (&alias)[N], const char* aliasName) {
  static_assert(N <= FIELD_ALIAS_SIZE, "alias keyword too long");
  for (size_t i = 0; i < N; ++i) row.AliasKeyword[i] = alias[i];
  row.AliasName = aliasName;
  return row;
}

constexpr uint8_t C = FRU_AREA_CHASSIS;
constexpr uint8_t B = FRU_AREA_BOARD;
constexpr uint8_t P = FRU_AREA_PRODUCT;

}  // namespace

constexpr FieldCatalogue FIELD_CATALOGUE_INITIAL = {{
    Row("CTY", C, 0, "Chassis Type", HandleChassisType),
    Row("CPN", C, 1, "Chassis Part Number"),
    Row("CSN", C, 2, "Chassis Serial Number"),
    Alias(Row("CEX0", C, 3, "Chassis Extra0"), "CMF", "Chassis Manufacturer"),
    Alias(Row("CEX1", C, 4, "Chassis Extra1"), "CVR", "Chassis Version"),
    Alias(Row("CEX2", C, 5, "Chassis Extra2"), "CAT", "Chassis Asset Tag"),
    Alias(Row("CEX3", C, 6, "Chassis Extra3"), "CSK", "Chassis SKU Number"),
    Alias(Row("CEX4", C, 7, "Chassis Extra4"), "CMD", "Chassis Model"),
    Row("CEX5", C, 8, "Chassis Extra5"),
    Row("CEX6", C, 9, "Chassis Extra6"),
    Row("CEX7", C, 10, "Chassis Extra7"),
    Row("BDT", B, 1, "Mfg. Date/Time", HandleMfgDate),
    Row("BMF", B, 2, "Board Manufacturer"),
    Row("BPN", B, 3, "Board Product Name", HandleBoardProductName),
    Row("BSN", B, 4, "Board Serial Number"),
    Row("BPA", B, 5, "Board Part Number"),
    Row("BFI", B, 6, "Board FRU File ID"),
    Alias(Row("BEX0", B, 7, "Board Extra0"), "BVR", "Board Version"),
    Alias(Row("BEX1", B, 8, "Board Extra1"), "BAT", "Board Asset Tag"),
    Row("BEX2", B, 9, "Board Extra2"),
    Row("BEX3", B, 10, "Board Extra3"),
    Row("BEX4", B, 11, "Board Extra4"),
    Row("BEX5", B, 12, "Board Extra5"),
    Row("BEX6", B, 13, "Board Extra6"),
    Row("BEX7", B, 14, "Board Extra7"),
    Row("PMF", P, 1, "Product Manufacturer"),
    Row("PPN", P, 2, "Product Name"),
    Row("PPM", P, 3, "Product Part/Model"),
    Row("PPV", P, 4, "Product Version"),
    Row("PSN", P, 5, "Product Serial Number"),
    Row("PAT", P, 6, "Product Asset Tag"),
    Row("PFI", P, 7, "Product FRU File ID"),
    Alias(Row("PEX0", P, 8, "Product Extra0"), "PUD", "Product UUID"),
    Alias(Row("PEX1", P, 9, "Product Extra1"), "PSK", "Product SKU Number"),
    Alias(Row("PEX2", P, 10, "Product Extra2"), "PFM", "Product Family"),
    Row("PEX3", P, 11, "Product Extra3"),
    Row("PEX4", P, 12, "Product Extra4"),
    Row("PEX5", P, 13, "Product Extra5"),
    Row("PEX6", P, 14, "Product Extra6"),
    Row("PEX7", P, 15, "Product Extra7"),
}};

constinit FieldCatalogue gFieldCatalogue = FIELD_CATALOGUE_INITIAL;

namespace {

constexpr bool SameText(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

// Checked when the program is compiled: a broken row fails the build.
constexpr bool CatalogueIsConsistent() {
  for (int i = 0; i < FIELD_COUNT; ++i) {
    const FieldEntry& row = FIELD_CATALOGUE_INITIAL.rows[i];
    if (row.Name == nullptr || row.Keyword[0] == '\0') return false;
    if ((row.AliasKeyword[0] != '\0') != (row.AliasName != nullptr)) return false;
    for (int j = 0; j < i; ++j) {
      const FieldEntry& other = FIELD_CATALOGUE_INITIAL.rows[j];
      if (SameText(row.Keyword, other.Keyword)) return false;
      if (row.Area == other.Area && row.Entry == other.Entry) return false;
    }
  }
  return true;
}
static_assert(CatalogueIsConsistent(), "every keyword and every (area, entry) pair occurs once");

}  // namespace

void ResetFieldCatalogue() { gFieldCatalogue = FIELD_CATALOGUE_INITIAL; }
