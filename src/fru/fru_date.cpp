#include "fru/fru_date.h"

namespace {

constexpr int32_t MONTHS_PER_YEAR = 12;
constexpr int32_t DAYS_PER_MONTH[MONTHS_PER_YEAR] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int32_t DaysInYear(int32_t year) { return IsLeapYear(year) ? 366 : 365; }

}  // namespace

bool IsLeapYear(int32_t year) { return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0); }

int32_t DaysInMonth(int32_t year, int32_t month) {
  if (month < 1 || month > MONTHS_PER_YEAR) return 0;
  return DAYS_PER_MONTH[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

FruDate FruDateFromMinutes(uint32_t minutes) {
  FruDate date{FRU_DATE_EPOCH_YEAR, 1, 1};
  int32_t days = static_cast<int32_t>(minutes / FRU_DATE_MINUTES_PER_DAY);
  while (days >= DaysInYear(date.year)) days -= DaysInYear(date.year++);
  while (days >= DaysInMonth(date.year, date.month)) days -= DaysInMonth(date.year, date.month++);
  date.day += days;
  return date;
}

uint32_t FruMinutesFromDate(const FruDate& date, int32_t hour, int32_t minute) {
  int32_t days = date.day - 1;
  for (int32_t year = FRU_DATE_EPOCH_YEAR; year < date.year; ++year) days += DaysInYear(year);
  for (int32_t month = 1; month < date.month; ++month) days += DaysInMonth(date.year, month);
  return static_cast<uint32_t>(days) * FRU_DATE_MINUTES_PER_DAY + static_cast<uint32_t>(hour * 60 + minute);
}
