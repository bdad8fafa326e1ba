#include "bmc/kcs_wait.h"

#include "platform/platform.h"

bool KcsWaitAfterFailedPoll(KcsWait& wait) {
  if (++wait.failedPolls >= KCS_POLL_LIMIT) return false;
  PlatformStall(KCS_POLL_DELAY_US);
  return true;
}
