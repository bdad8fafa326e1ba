// Finding options in the tokens. Every lookup uses one rule: a keyword is
// found in a token when its folded form occurs in the folded head of the
// token (containment, not equality). The head is the token up to and
// including its first "=", or the whole token when it has none, so a value
// never holds a keyword: PPN=BATTERY PACK names the product name only.
#pragma once

#include <stdint.h>

#include "app/token_list.h"

// The keyword's first occurrence in the token's head, or null.
const char* FindInHead(const char* token, const char* keyword);

// 1 when some token's head contains the keyword, else 0.
int OptionPresent(const char* keyword, const TokenList& tokens);

// The rest of the first token whose head contains the keyword, after its
// first occurrence, letter case unchanged (may be empty); null when no token
// holds it. Points into the token.
const char* OptionValue(const char* keyword, const TokenList& tokens);

// "0x" followed by hexadecimal digits, or a decimal number with optional
// leading blanks and sign; the low 32 bits, or -1 when the text is null or
// anything is left after the digits.
int32_t ParseInteger(const char* text);

// The FRU ID reading: decimal, leading blanks and one sign allowed, stops at
// the first non-digit, no digits give 0; held at the 64-bit limits, then cut
// to its low 32 bits.
int32_t ReadDecimalId(const char* text);

// The first token that holds no general option and no field keyword, or a
// ClearFru= other than "ClearFru=", "ClearFru=1" or "ClearFru=0"; null when
// all are supported.
const char* FindUnsupportedToken(const TokenList& tokens);

// A parameter-file line that names an option only the command line takes
// (-v, ClearFru=, FILE=): it has no effect there.
bool IsIgnoredInParameterFile(const char* line);
