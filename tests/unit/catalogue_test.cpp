// One self-check over every catalogue row, naming the row that fails.
#include <set>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "fields/catalogue.h"
#include "fru/fru_format.h"

namespace {

bool IsKeywordText(const char* text, size_t minLength, size_t maxLength) {
  size_t n = 0;
  for (; text[n] != '\0'; ++n) {
    if (!((text[n] >= 'A' && text[n] <= 'Z') || (text[n] >= '0' && text[n] <= '9'))) return false;
  }
  return n >= minLength && n <= maxLength;
}

TEST(Catalogue, EveryRowIsWellFormed) {
  std::set<std::string> keywords;
  std::set<std::pair<int, int>> places;
  int perArea[FRU_AREA_COUNT] = {};
  for (int i = 0; i < FIELD_COUNT; ++i) {
    const FieldEntry& row = FIELD_CATALOGUE_INITIAL.rows[i];
    SCOPED_TRACE("row " + std::to_string(i) + " " + row.Keyword);
    EXPECT_TRUE(IsKeywordText(row.Keyword, 3, 4));
    EXPECT_TRUE(keywords.insert(row.Keyword).second) << "keyword repeats";
    if (row.AliasKeyword[0] != '\0') {
      EXPECT_TRUE(IsKeywordText(row.AliasKeyword, 3, 7));
      EXPECT_TRUE(keywords.insert(row.AliasKeyword).second) << "alias repeats";
      ASSERT_NE(row.AliasName, nullptr);
      EXPECT_NE(row.AliasName[0], '\0');
    } else {
      EXPECT_EQ(row.AliasName, nullptr);
    }
    EXPECT_TRUE(row.Area >= FRU_AREA_CHASSIS && row.Area <= FRU_AREA_PRODUCT);
    EXPECT_TRUE(places.insert({row.Area, row.Entry}).second) << "area and entry repeat";
    ASSERT_NE(row.Name, nullptr);
    EXPECT_NE(row.Name[0], '\0');
    EXPECT_EQ(row.Size, FIELD_SIZE_NOT_GIVEN);
    EXPECT_EQ(row.Type, 0x00);
    ++perArea[row.Area];
    if (i > 0) {
      const FieldEntry& previous = FIELD_CATALOGUE_INITIAL.rows[i - 1];
      EXPECT_TRUE(row.Area > previous.Area || (row.Area == previous.Area && row.Entry == previous.Entry + 1))
          << "rows are in area and entry order";
    }
  }
  EXPECT_EQ(perArea[FRU_AREA_CHASSIS], 11);
  EXPECT_EQ(perArea[FRU_AREA_BOARD], 14);
  EXPECT_EQ(perArea[FRU_AREA_PRODUCT], 15);
}

}  // namespace
