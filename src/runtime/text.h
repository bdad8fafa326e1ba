// Byte and string helpers. Nothing here knows what the text means.
#pragma once

#include <stddef.h>
#include <stdint.h>

size_t TextLength(const char* text);
// Length up to the first zero byte, but never more than limit.
size_t TextLengthBounded(const char* text, size_t limit);
bool TextEqual(const char* a, const char* b);

// Letter folding: 'a'..'z' become 'A'..'Z'; every other byte stays as it is.
char FoldLetter(char c);

// The first position at which the folded needle occurs as a contiguous run in
// the folded haystack, or null. An empty needle is found at the start.
const char* FindFolded(const char* haystack, const char* needle);
// The same within the first limit bytes of haystack (which holds at least that many).
const char* FindFoldedWithin(const char* haystack, size_t limit, const char* needle);

// The first occurrence of c in text (c may not be the zero byte), or null.
const char* FindChar(const char* text, char c);

// Copies at most capacity - 1 bytes of text and a zero byte; returns the count copied.
size_t CopyTextBounded(char* destination, size_t capacity, const char* text);

// A copy of length bytes of text plus a zero byte, in the run arena; null when
// the arena is exhausted.
char* DuplicateText(const char* text, size_t length);

// New copies (run arena) of what follows / precedes the first c in text; null
// when c does not occur, or when the arena is exhausted.
char* TextAfter(const char* text, char c);
char* TextBefore(const char* text, char c);

void CopyBytes(void* destination, const void* source, size_t count);
void FillBytes(void* destination, uint8_t value, size_t count);
int CompareBytes(const void* a, const void* b, size_t count);
