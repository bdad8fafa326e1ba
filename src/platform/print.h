// The console messages that are UCS-2 strings, written straight to the
// firmware console rather than through Print.
#pragma once

#include <stdarg.h>

#include "runtime/print.h"

void PrintWide(const char16_t* text);
// A formatted message widened to UCS-2.
void PrintWideV(const char* format, va_list args);

// Points Print at the platform's console.
void AttachConsole();
