// The console messages that are UCS-2 strings, written straight to the
// firmware console rather than through Print.
#pragma once

#include <stdarg.h>

#include "runtime/print.h"

void PrintWide(const char16_t* text);
// A failure message of the tool's own that has no "[ERROR] " prefix: printed
// as PrintWide does, and noted for the report without its line end.
void PrintWideFailure(const char16_t* text);
// A formatted message widened to UCS-2.
void PrintWideV(const char* format, va_list args);

// Points Print at the platform's console, noting on the way the lines that
// begin with "[ERROR] " (for the run's report).
void AttachConsole();

constexpr int CONSOLE_ERROR_LINES_MAX = 16;
constexpr int CONSOLE_ERROR_LINE_MAX = 256;  // longer lines are kept cut
// The first failure lines of this run in the order they came, without their
// line feed: the "[ERROR] " lines, and those noted here (a platform's failure
// lines on its own channel, the wide failure messages).
int ConsoleErrorLineCount();
const char* ConsoleErrorLine(int index);
void NoteFailureLine(const char* line);
void ForgetConsoleErrorLines();
