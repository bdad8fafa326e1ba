// Formatted printing shared by both builds, so that the UEFI application and
// the host program print the same bytes. The subset: %d %u %x %X %p %s %c %%,
// a field width, the '0' and '-' flags and the 'l' / 'll' length modifiers.
#pragma once

#include <stdarg.h>
#include <stddef.h>

// Receives formatted output in pieces; pieces arrive in order.
struct FormatSink {
  void (*Write)(void* context, const char* bytes, size_t length);
  void* context;
};

// Formats into the sink; returns the number of bytes produced.
size_t FormatToSink(const FormatSink& sink, const char* format, va_list args);

// Formats into buffer like snprintf: at most capacity - 1 bytes plus a zero
// byte are stored; the return value is the full length the text would have.
size_t FormatStringV(char* buffer, size_t capacity, const char* format, va_list args);
size_t FormatString(char* buffer, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
