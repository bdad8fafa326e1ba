// The console messages that are UCS-2 strings, written straight to the
// firmware console rather than through Print.
#pragma once

#include <stdarg.h>

#include "runtime/print.h"

void PrintWide(const char16_t* text);
// A formatted message widened to UCS-2.
void PrintWideV(const char* format, va_list args);

// Points Print at the platform's console, noting on the way the lines that
// begin with "[ERROR] " (for the run's report).
void AttachConsole();

constexpr int CONSOLE_ERROR_LINES_MAX = 8;
constexpr int CONSOLE_ERROR_LINE_MAX = 256;  // longer lines are kept cut
// The first "[ERROR] " lines of this run, without their line feed.
int ConsoleErrorLineCount();
const char* ConsoleErrorLine(int index);
void ForgetConsoleErrorLines();
