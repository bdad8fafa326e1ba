// The FRU's calendar: a manufacturing date is a count of minutes since
// 1996-01-01 00:00 in three bytes. The date handler and the listing both
// count here.
#pragma once

#include <stdint.h>

constexpr int32_t FRU_DATE_EPOCH_YEAR = 1996;
// The largest count three bytes hold: 2027-11-24 20:15.
constexpr uint32_t FRU_DATE_MINUTES_MAX = 0xFFFFFF;
constexpr uint32_t FRU_DATE_MINUTES_PER_DAY = 24 * 60;

struct FruDate {
  int32_t year;
  int32_t month;
  int32_t day;
};

bool IsLeapYear(int32_t year);
// 1 to 31 for a month of 1 to 12; 0 for any other month.
int32_t DaysInMonth(int32_t year, int32_t month);

// The day that a count of minutes since the epoch falls on.
FruDate FruDateFromMinutes(uint32_t minutes);
// Minutes since the epoch of a valid date from the epoch on, at hour:minute.
uint32_t FruMinutesFromDate(const FruDate& date, int32_t hour, int32_t minute);
