// The four memory functions the compiler may call for copies and clears of
// whole structures; the firmware target has no C library to provide them.
#include <stddef.h>

extern "C" {

void* memcpy(void* destination, const void* source, size_t count) {
  auto* d = static_cast<volatile unsigned char*>(destination);
  const auto* s = static_cast<const unsigned char*>(source);
  for (size_t i = 0; i < count; ++i) d[i] = s[i];
  return destination;
}

void* memmove(void* destination, const void* source, size_t count) {
  auto* d = static_cast<volatile unsigned char*>(destination);
  const auto* s = static_cast<const unsigned char*>(source);
  if (d < s) {
    for (size_t i = 0; i < count; ++i) d[i] = s[i];
  } else {
    for (size_t i = count; i > 0; --i) d[i - 1] = s[i - 1];
  }
  return destination;
}

void* memset(void* destination, int value, size_t count) {
  auto* d = static_cast<volatile unsigned char*>(destination);
  for (size_t i = 0; i < count; ++i) d[i] = static_cast<unsigned char>(value);
  return destination;
}

int memcmp(const void* a, const void* b, size_t count) {
  const auto* x = static_cast<const unsigned char*>(a);
  const auto* y = static_cast<const unsigned char*>(b);
  for (size_t i = 0; i < count; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

}  // extern "C"
