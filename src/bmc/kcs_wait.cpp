#include "bmc/kcs_wait.h"

#include "platform/platform.h"

namespace {

uint32_t NextStall(const KcsWait& wait) {
  uint32_t stall = wait.stalledUs / KCS_BACKOFF_DIVISOR;
  if (stall < KCS_BACKOFF_MIN_US) return KCS_BACKOFF_MIN_US;
  return stall > KCS_BACKOFF_MAX_US ? KCS_BACKOFF_MAX_US : stall;
}

}  // namespace

bool KcsWaitAfterFailedPoll(KcsWait& wait) {
  ++wait.failedPolls;
  if (wait.schedule == KcsWaitSchedule::FixedPoll) {
    if (wait.failedPolls >= KCS_FIXED_POLL_LIMIT) return false;
    PlatformStall(KCS_FIXED_POLL_DELAY_US);
    return true;
  }
  if (wait.stalledUs >= KCS_WAIT_BUDGET_US) return false;
  uint32_t stall = NextStall(wait);
  PlatformStall(stall);
  wait.stalledUs += stall;
  return true;
}
