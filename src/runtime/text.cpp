#include "runtime/text.h"

#include "runtime/arena.h"

size_t TextLength(const char* text) {
  size_t n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

bool TextEqual(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

bool TextEqualFolded(const char* a, const char* b) {
  while (*a != '\0' && FoldLetter(*a) == FoldLetter(*b)) {
    ++a;
    ++b;
  }
  return *a == *b;
}

char FoldLetter(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

const char* FindFoldedWithin(const char* haystack, size_t limit, const char* needle) {
  for (size_t start = 0;; ++start) {
    size_t i = 0;
    while (needle[i] != '\0' && start + i < limit && FoldLetter(haystack[start + i]) == FoldLetter(needle[i])) ++i;
    if (needle[i] == '\0') return haystack + start;
    if (start >= limit) return nullptr;
  }
}

const char* FindChar(const char* text, char c) {
  for (; *text != '\0'; ++text) {
    if (*text == c) return text;
  }
  return nullptr;
}

char* DuplicateText(const char* text, size_t length) {
  auto* copy = static_cast<char*>(ArenaAlloc(length + 1));
  if (copy == nullptr) return nullptr;
  CopyBytes(copy, text, length);
  copy[length] = '\0';
  return copy;
}

void CopyBytes(void* destination, const void* source, size_t count) {
  auto* d = static_cast<unsigned char*>(destination);
  const auto* s = static_cast<const unsigned char*>(source);
  for (size_t i = 0; i < count; ++i) d[i] = s[i];
}

void FillBytes(void* destination, uint8_t value, size_t count) {
  auto* d = static_cast<unsigned char*>(destination);
  for (size_t i = 0; i < count; ++i) d[i] = value;
}

int CompareBytes(const void* a, const void* b, size_t count) {
  const auto* x = static_cast<const unsigned char*>(a);
  const auto* y = static_cast<const unsigned char*>(b);
  for (size_t i = 0; i < count; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

char* TextAfter(const char* text, char c) {
  const char* at = FindChar(text, c);
  if (at == nullptr) return nullptr;
  return DuplicateText(at + 1, TextLength(at + 1));
}

char* TextBefore(const char* text, char c) {
  const char* at = FindChar(text, c);
  if (at == nullptr) return nullptr;
  return DuplicateText(text, static_cast<size_t>(at - text));
}
