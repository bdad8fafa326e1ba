// The one place that says how long the tool waits for the BMC and how often
// it looks: every KCS wait polls the status register and, between polls that
// do not see what they wait for, stalls.
#pragma once

#include <stdint.h>

constexpr uint32_t KCS_POLL_LIMIT = 1001;     // status reads per wait
constexpr uint32_t KCS_POLL_DELAY_US = 5000;  // stall between two reads
constexpr int KCS_ABORT_ATTEMPTS = 10;

struct KcsWait {
  uint32_t failedPolls;
};

inline KcsWait KcsWaitBegin() { return KcsWait{0}; }

// Called after a poll that did not see the condition. False when the wait has
// run out; otherwise it has stalled and the caller polls again.
bool KcsWaitAfterFailedPoll(KcsWait& wait);
