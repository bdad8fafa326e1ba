// Every message of the tool goes through Print, so both builds print the
// same bytes. Where the bytes go is set once at start (the platform's
// console); until then they go nowhere.
#pragma once

#include <stdarg.h>
#include <stddef.h>

using ConsoleWriter = void (*)(const char* bytes, size_t length);

void SetConsoleWriter(ConsoleWriter writer);

void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PrintV(const char* format, va_list args);
