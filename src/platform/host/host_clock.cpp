// The local time of the host build; TAGFORGE_NOW (YYYY-MM-DDTHH:MM) fixes it.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"

PlatformStatus PlatformGetLocalTime(PlatformTime* now) {
  const char* fixed = getenv("TAGFORGE_NOW");
  if (fixed != nullptr) {
    int year, month, day, hour, minute;
    char end;
    if (sscanf(fixed, "%d-%d-%dT%d:%d%c", &year, &month, &day, &hour, &minute, &end) != 5) return PLATFORM_INVALID_PARAMETER;
    *now = PlatformTime{year, month, day, hour, minute};
    return PLATFORM_SUCCESS;
  }
  time_t seconds = time(nullptr);
  struct tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return PLATFORM_DEVICE_ERROR;
  *now = PlatformTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min};
  return PLATFORM_SUCCESS;
}
