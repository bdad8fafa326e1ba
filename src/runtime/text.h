// Byte and string helpers. Nothing here knows what the text means.
#pragma once

#include <stddef.h>
#include <stdint.h>

size_t TextLength(const char* text);
bool TextEqual(const char* a, const char* b);
// Equal once both are letter-folded (below).
bool TextEqualFolded(const char* a, const char* b);

// Letter folding: 'a'..'z' become 'A'..'Z'; every other byte stays as it is.
char FoldLetter(char c);

// The first position at which the folded needle occurs as a contiguous run in
// the first limit bytes of the folded haystack (which holds at least that
// many), or null. An empty needle is found at the start.
const char* FindFoldedWithin(const char* haystack, size_t limit, const char* needle);

// The first occurrence of c in text (c may not be the zero byte), or null.
const char* FindChar(const char* text, char c);

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
