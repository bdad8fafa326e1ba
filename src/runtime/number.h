// Reading decimal numbers the way the C library's strtol does.
#pragma once

#include <stdint.h>

enum class DecimalOverflow {
  Hold,  // the value stays at the 64-bit limit while the digits are still taken
  Stop,  // the reading ends at the digit that would overflow
};

struct DecimalReading {
  int64_t value;
  const char* end;  // first byte not taken; the text's start when no digit was read
};

// Leading white space, one sign, then decimal digits as far as they go.
DecimalReading ReadDecimal(const char* text, DecimalOverflow overflow);

// The same reading held within the signed 32-bit range.
int32_t ReadDecimal32(const char* text);
