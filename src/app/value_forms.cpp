#include "app/value_forms.h"

#include <stddef.h>
#include <stdint.h>

#include "app/command_line.h"
#include "fru/fru_format.h"
#include "runtime/print.h"
#include "runtime/text.h"

namespace {

bool IsWordSeparator(char c) { return c == ' ' || c == ','; }

// A type prefix names a type code only when its low byte has its low six bits clear.
bool NamesTypeCode(int32_t value) { return value != -1 && (value & 0xFF & FRU_LENGTH_MASK) == 0; }

enum class WordsResult { AllBytes, Text, TooMany };

// Reads the data text as hexadecimal words into bytes; stops at the first
// word that is not one, printing its message when bytes came before it.
WordsResult ReadHexWords(const char* dataText, uint8_t (&bytes)[FIELD_DATA_SIZE], int* count) {
  char* work = DuplicateText(dataText, TextLength(dataText));
  if (work == nullptr) return WordsResult::Text;
  int n = 0;
  char* p = work;
  for (;;) {
    while (IsWordSeparator(*p)) ++p;
    if (*p == '\0') break;
    char* word = p;
    while (*p != '\0' && !IsWordSeparator(*p)) ++p;
    if (*p != '\0') *p++ = '\0';

    const char* message = nullptr;
    int32_t value = -1;
    bool hasPrefix = false;
    for (const char* q = word; q[0] != '\0'; ++q) hasPrefix = hasPrefix || (q[0] == '0' && q[1] == 'x');
    if (!hasPrefix) {
      message = "\"%s\" - Hex value not started with 0x\n";
    } else {
      value = ParseInteger(word);
      if (value == -1) message = "\"%s\" - cannot convert to integer\n";
    }
    if (message != nullptr) {
      if (n > 0) Print(message, word);
      return WordsResult::Text;
    }
    if (n == FIELD_DATA_SIZE) return WordsResult::TooMany;
    bytes[n++] = static_cast<uint8_t>(value);
  }
  *count = n;
  return WordsResult::AllBytes;
}

}  // namespace

ValueReadResult ReadValueText(FieldEntry& row, const char* valueText, const char* prefixSource) {
  uint8_t type = FRU_TYPE_TEXT;
  const char* dataText = valueText;
  int32_t prefix = ParseInteger(TextBefore(valueText, ','));
  if (NamesTypeCode(prefix)) {
    type = static_cast<uint8_t>(prefix & 0xFF);
    dataText = TextAfter(prefixSource, ',');
    if (dataText == nullptr) dataText = "";
  }
  row.Type = type;

  uint8_t bytes[FIELD_DATA_SIZE];
  int count = 0;
  switch (ReadHexWords(dataText, bytes, &count)) {
    case WordsResult::AllBytes:
      CopyBytes(row.Data, bytes, static_cast<size_t>(count));
      row.Size = count;
      return ValueReadResult::Stored;
    case WordsResult::TooMany:
      return ValueReadResult::TooLarge;
    case WordsResult::Text:
      break;
  }
  // Stored whole as text, with its terminating zero byte.
  size_t length = TextLength(dataText);
  if (length >= FIELD_DATA_SIZE) return ValueReadResult::TooLarge;
  CopyBytes(row.Data, dataText, length + 1);
  row.Size = static_cast<int32_t>(length);
  return ValueReadResult::Stored;
}
