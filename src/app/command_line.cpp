#include "app/command_line.h"

#include <stddef.h>

#include "fields/catalogue.h"
#include "runtime/number.h"
#include "runtime/text.h"

namespace {

// The general options, in their fixed order; for the validation any match is enough.
constexpr const char* GENERAL_OPTIONS[] = {"-v", "file=", "ClearFru=", "FruSize=", "id=", "cm", "-z"};

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct RunModeName {
  RunMode mode;
  const char* option;
};
constexpr RunModeName RUN_MODE_OPTIONS[] = {
    {RunMode::Check, "--check"},
    {RunMode::Verify, "--verify"},
    {RunMode::DryRun, "--dry-run"},
};

// Options a platform may take before the tool runs (the host's --help,
// --version, --json): whole tokens too, so that "-v" is never found in one.
// A platform that takes none leaves them unsupported.
constexpr const char* PLATFORM_OPTIONS[] = {"--help", "--version", "--json"};

// Each pair that cannot share a run, with its line; the first pair a command line holds is named.
struct RunModeClash {
  RunMode first;
  RunMode second;
  const char* refusal;
};
constexpr RunModeClash RUN_MODE_CLASHES[] = {
    {RunMode::Verify, RunMode::DryRun, "[ERROR] --verify and --dry-run cannot be used together"},
    {RunMode::Check, RunMode::Verify, "[ERROR] --check and --verify cannot be used together"},
    {RunMode::Check, RunMode::DryRun, "[ERROR] --check and --dry-run cannot be used together"},
};

int32_t LowWord(uint64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

// ClearFru= takes nothing, 1 or 0 and nothing else: "no", "false" or "00"
// read as "keep" to a person, and a clear cannot be taken back. A longer head
// (NoClearFru=) is not the option either.
bool IsClearFruForm(const char* token) {
  const char* at = FindInHead(token, "ClearFru=");
  if (at == nullptr) return true;
  const char* value = at + TextLength("ClearFru=");
  return at == token && (*value == '\0' || TextEqual(value, "1") || TextEqual(value, "0"));
}

// A token that starts like an option is one of the short ones whole, or a long
// one whole: "--verify=1", "--verfiy" or "-verify" hold "-v", and once ran
// as traces plus an edit where the operator meant a check that never writes.
bool IsMisspeltOption(const char* token) {
  const char* start = token;
  while (*start == ' ' || *start == '\t') ++start;
  if (*start != '-') return false;
  return !TextEqualFolded(token, "-v") && !TextEqualFolded(token, "-z") && !IsPlatformOption(token, nullptr) &&
         RunModeOption(token) == RunMode::Normal;
}

}  // namespace

RunMode RunModeOption(const char* token) {
  for (const RunModeName& name : RUN_MODE_OPTIONS) {
    if (TextEqualFolded(token, name.option)) return name.mode;
  }
  return RunMode::Normal;
}

RunModeChoice ChooseRunMode(const TokenList& commandLine) {
  bool named[4] = {};
  for (int i = 0; i < commandLine.count; ++i) named[static_cast<int>(RunModeOption(commandLine.items[i]))] = true;
  for (const RunModeClash& clash : RUN_MODE_CLASHES) {
    if (named[static_cast<int>(clash.first)] && named[static_cast<int>(clash.second)]) {
      return RunModeChoice{clash.first, clash.refusal};
    }
  }
  for (const RunModeName& name : RUN_MODE_OPTIONS) {
    if (named[static_cast<int>(name.mode)]) return RunModeChoice{name.mode, nullptr};
  }
  return RunModeChoice{RunMode::Normal, nullptr};
}

bool IsPlatformOption(const char* token, const char* option) {
  for (const char* known : PLATFORM_OPTIONS) {
    if (TextEqualFolded(token, known) && (option == nullptr || TextEqualFolded(known, option))) return true;
  }
  return false;
}

const char* FindInHead(const char* token, const char* keyword) {
  if (RunModeOption(token) != RunMode::Normal || IsPlatformOption(token, nullptr)) return nullptr;
  const char* equals = FindChar(token, '=');
  size_t head = equals == nullptr ? TextLength(token) : static_cast<size_t>(equals - token) + 1;
  return FindFoldedWithin(token, head, keyword);
}

int OptionPresent(const char* keyword, const TokenList& tokens) {
  return OptionValue(keyword, tokens) != nullptr ? 1 : 0;
}

const char* OptionValue(const char* keyword, const TokenList& tokens) {
  for (int i = 0; i < tokens.count; ++i) {
    const char* at = FindInHead(tokens.items[i], keyword);
    if (at != nullptr) return at + TextLength(keyword);
  }
  return nullptr;
}

int32_t ParseInteger(const char* text) {
  if (text == nullptr) return -1;
  if (text[0] == '0' && text[1] == 'x') {
    const char* p = text + 2;
    uint64_t value = 0;
    for (; HexDigitValue(*p) >= 0; ++p) {
      if (value >> 60 != 0) return -1;  // one more digit would pass 64 bits
      value = value << 4 | static_cast<uint64_t>(HexDigitValue(*p));
    }
    if (p == text + 2 || *p != '\0') return -1;
    return LowWord(value);
  }
  DecimalReading reading = ReadDecimal(text, DecimalOverflow::Stop);
  if (*reading.end != '\0') return -1;
  return LowWord(static_cast<uint64_t>(reading.value));
}

int32_t ReadDecimalId(const char* text) {
  return LowWord(static_cast<uint64_t>(ReadDecimal(text, DecimalOverflow::Hold).value));
}

bool IsFruIdText(const char* text) {
  constexpr int FRU_ID_MAX = 255;
  int value = 0;
  size_t digits = 0;
  for (; text[digits] >= '0' && text[digits] <= '9' && digits < 4; ++digits) value = value * 10 + (text[digits] - '0');
  return digits > 0 && digits <= 3 && text[digits] == '\0' && value <= FRU_ID_MAX;
}

bool IsIgnoredInParameterFile(const char* line) {
  return RunModeOption(line) != RunMode::Normal || FindInHead(line, "-v") != nullptr ||
         FindInHead(line, "ClearFru=") != nullptr || FindInHead(line, "file=") != nullptr;
}

const char* FindUnsupportedToken(const TokenList& commandLine) {
  for (int i = 0; i < commandLine.count; ++i) {
    const char* token = commandLine.items[i];
    if (RunModeOption(token) != RunMode::Normal) continue;
    if (!IsClearFruForm(token)) return token;
    if (IsMisspeltOption(token)) return token;
    bool supported = false;
    for (const char* option : GENERAL_OPTIONS) {
      if (FindInHead(token, option) != nullptr) {
        supported = true;
        break;
      }
    }
    for (int r = 0; !supported && r < FIELD_COUNT; ++r) {
      const FieldEntry& row = FIELD_CATALOGUE_INITIAL.rows[r];
      supported = FindInHead(token, row.Keyword) != nullptr ||
                  (row.AliasKeyword[0] != '\0' && FindInHead(token, row.AliasKeyword) != nullptr);
    }
    if (!supported) return token;
  }
  return nullptr;
}
