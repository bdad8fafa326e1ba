#include "fields/field_handlers.h"
#include "fru/fru_date.h"
#include "platform/platform.h"
#include "runtime/print.h"
#include "runtime/arena.h"
#include "runtime/number.h"
#include "runtime/text.h"

namespace {

// The last day whose minutes three bytes hold.
constexpr int32_t MFG_DATE_LAST_YEAR = 2027;
constexpr int32_t MFG_DATE_LAST_MONTH = 11;
constexpr int32_t MFG_DATE_LAST_DAY = 24;
constexpr int32_t MFG_DATE_SIZE = 3;

struct Moment {
  int32_t year;
  int32_t month;
  int32_t day;
  int32_t hour;
  int32_t minute;
};

void PrintInvalid() { Print("[ERROR] Mfg Date/Time invalid\n"); }

// YYYY/MM/DD with strtol-like parts; false when a "/" is missing.
bool ReadTypedDate(const char* text, Moment* moment) {
  const char* firstSlash = FindChar(text, '/');
  if (firstSlash == nullptr) return false;
  const char* secondSlash = FindChar(firstSlash + 1, '/');
  if (secondSlash == nullptr) return false;
  char* year = DuplicateText(text, static_cast<size_t>(firstSlash - text));
  char* month = DuplicateText(firstSlash + 1, static_cast<size_t>(secondSlash - firstSlash - 1));
  if (year == nullptr || month == nullptr) return false;
  *moment = Moment{ReadDecimal32(year), ReadDecimal32(month), ReadDecimal32(secondSlash + 1), 0, 0};
  return true;
}

bool IsDayInMonth(const Moment& m) { return m.day >= 1 && m.day <= DaysInMonth(m.year, m.month); }

uint32_t MinutesOf(const Moment& m) { return FruMinutesFromDate(FruDate{m.year, m.month, m.day}, m.hour, m.minute); }

// The range and calendar checks, each failure with its own words.
bool CheckMoment(const Moment& m) {
  if (m.year < FRU_DATE_EPOCH_YEAR) {
    Print("The year must be greater than or equal to 1996.\n");
    return false;
  }
  bool pastLastDay = m.year > MFG_DATE_LAST_YEAR ||
                     (m.year == MFG_DATE_LAST_YEAR && m.month > MFG_DATE_LAST_MONTH) ||
                     (m.year == MFG_DATE_LAST_YEAR && m.month == MFG_DATE_LAST_MONTH && m.day > MFG_DATE_LAST_DAY);
  if (pastLastDay) {
    Print("The date must be less than or equal to 2027/11/24.\n");
    return false;
  }
  if (!IsDayInMonth(m)) {
    if (m.month == 2 && m.day == 29) Print("Not leap year.\n");
    Print("YYYY/MM/DD is not correct.\n");
    return false;
  }
  // The clock's time of day on the last day can pass what three bytes hold.
  if (MinutesOf(m) > FRU_DATE_MINUTES_MAX) {
    Print("The date must be less than or equal to 2027/11/24.\n");
    return false;
  }
  return true;
}

void StoreMinutes(FieldEntry* row, uint32_t minutes) {
  for (int i = 0; i < 4; ++i) row->Data[i] = static_cast<uint8_t>(minutes >> (8 * i));
  row->Size = MFG_DATE_SIZE;
}

}  // namespace

int32_t HandleMfgDate(const char* rest, FieldEntry* row) {
  const char* valueText = FindChar(rest, '=');
  Moment moment{};
  if (valueText != nullptr) {
    ++valueText;
    if (*valueText == '\0') {
      StoreMinutes(row, 0);  // the unspecified date
      return FIELD_HANDLER_SET;
    }
    if (!ReadTypedDate(valueText, &moment) || moment.year == 0 || moment.month == 0 || moment.day == 0) {
      PrintInvalid();
      return FIELD_HANDLER_FAILED;
    }
  } else {
    PlatformTime now{};
    if (PlatformIsError(PlatformGetLocalTime(&now))) {
      Print("[ERROR] Cannot read the system clock\n");
      PrintInvalid();
      return FIELD_HANDLER_FAILED;
    }
    moment = Moment{now.year, now.month, now.day, now.hour, now.minute};
  }
  Print("Mfg date/time: %d/%d/%d\n", moment.year, moment.month, moment.day);
  if (!CheckMoment(moment)) {
    PrintInvalid();
    return FIELD_HANDLER_FAILED;
  }
  StoreMinutes(row, MinutesOf(moment));
  return FIELD_HANDLER_SET;
}
