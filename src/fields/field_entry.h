// One row of the field catalogue. This header depends on nothing so that the
// FRU image code can read filled rows without knowing the catalogue.
#pragma once

#include <stdint.h>

constexpr int FIELD_KEYWORD_SIZE = 5;
constexpr int FIELD_ALIAS_SIZE = 8;
constexpr int FIELD_DATA_SIZE = 256;
// The largest value a type/length byte can carry.
constexpr int FIELD_VALUE_MAX = 63;

constexpr int32_t FIELD_SIZE_NOT_GIVEN = -1;
constexpr int32_t FIELD_SIZE_ERASE = 0;

struct FieldEntry;

// A value handler reads the text after the row's keyword and may fill the row.
// Results: the row is set, the handler failed (its message is printed), or it
// declines and the generic value forms take the text.
enum FieldHandlerResult : int32_t {
  FIELD_HANDLER_SET = 0,
  FIELD_HANDLER_FAILED = 1,
  FIELD_HANDLER_DECLINED = 2,
};
using FieldHandler = int32_t (*)(const char* rest, FieldEntry* row);

struct FieldEntry {
  char Keyword[FIELD_KEYWORD_SIZE];
  uint8_t Area;
  uint8_t Entry;
  int32_t Size;
  FieldHandler Handler;
  const char* Name;
  char AliasKeyword[FIELD_ALIAS_SIZE];
  const char* AliasName;
  uint8_t Data[FIELD_DATA_SIZE];
  uint8_t Type;
};
