#include "runtime/number.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

DecimalReading ReadDecimal(const char* text, DecimalOverflow overflow) {
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  const uint64_t limit = negative ? (1ULL << 63) : (1ULL << 63) - 1;
  uint64_t magnitude = 0;
  bool anyDigit = false;
  bool held = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    anyDigit = true;
    uint64_t digit = static_cast<uint64_t>(*p - '0');
    if (held) continue;
    if (magnitude > (limit - digit) / 10) {
      if (overflow == DecimalOverflow::Stop) break;
      magnitude = limit;
      held = true;
      continue;
    }
    magnitude = magnitude * 10 + digit;
  }
  if (!anyDigit) return DecimalReading{0, text};
  int64_t value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return DecimalReading{value, p};
}

int32_t ReadDecimal32(const char* text) {
  int64_t value = ReadDecimal(text, DecimalOverflow::Hold).value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}
