// Every message of the tool goes through these, so both builds print the same bytes.
#pragma once

#include <stdarg.h>

void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PrintV(const char* format, va_list args);
// A UCS-2 message straight to the firmware console.
void PrintWide(const char16_t* text);
// A formatted message widened to UCS-2 and written straight to the firmware console.
void PrintWideV(const char* format, va_list args);
