// Finding options in the tokens. Every lookup uses one rule: a keyword is
// found in a token when its folded form occurs in the folded head of the
// token (containment, not equality). The head is the token up to and
// including its first "=", or the whole token when it has none, so a value
// never holds a keyword: PPN=BATTERY PACK names the product name only. The
// run-mode options and the platform's options are the exception: each is a
// whole token, and nothing is found inside one (--verify and --version hold
// "-v", which would turn on the traces).
#pragma once

#include <stdint.h>

#include "app/token_list.h"

// What a run does with the FRU once it has its tokens: what it always did
// (list, clear or edit), or one of the three options that never write.
enum class RunMode : uint8_t {
  Normal,
  Check,   // --check: the tokens only, up to the first request; no device at all
  Verify,  // --verify: the FRU read and compared with the values given
  DryRun,  // --dry-run: an edit or a clear up to its first write
};

// The mode a token names: "--check", "--verify" or "--dry-run", letters in
// any case, the whole token; Normal for any other token.
RunMode RunModeOption(const char* token);

struct RunModeChoice {
  RunMode mode;
  const char* refusal;  // the line that refuses two of them together, or null
};
// The mode the command line asks for.
RunModeChoice ChooseRunMode(const TokenList& commandLine);

// True when the token is one of the options a platform may take before the
// tool runs ("--help", "--version", "--json": the whole token, letters in any
// case) and, when option is not null, that one.
bool IsPlatformOption(const char* token, const char* option);

// The keyword's first occurrence in the token's head, or null; always null
// in a run-mode option and in a platform option.
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

// An ID= value the BMC can be asked for: 0 to 255 in decimal digits. The
// request carries one byte, so anything else (256, 0x10, abc, -1) would reach
// another FRU than the one written.
bool IsFruIdText(const char* text);

// The first token that holds no general option and no field keyword, or a
// ClearFru= other than "ClearFru=", "ClearFru=1" or "ClearFru=0"; null when
// all are supported.
const char* FindUnsupportedToken(const TokenList& tokens);

// A parameter-file line that names an option only the command line takes
// (-v, ClearFru=, FILE=, the run-mode options): it has no effect there.
bool IsIgnoredInParameterFile(const char* line);
