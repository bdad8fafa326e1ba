// The one place that says how long the tool waits for the BMC and how often
// it looks. A wait reads the status register; while the BMC is not ready it
// stalls between reads, each stall an eighth of the time the wait has stalled
// so far (at least 2 us, at most 5 ms). A BMC that answers in microseconds
// thus costs microseconds, any wait ends within an eighth of its own length
// after the BMC is ready, and a slow BMC is not polled without end. A wait
// gives up once its stalls add up to 5 seconds.
#pragma once

#include <stdint.h>

constexpr uint32_t KCS_BACKOFF_MIN_US = 2;
constexpr uint32_t KCS_BACKOFF_DIVISOR = 8;
constexpr uint32_t KCS_BACKOFF_MAX_US = 5000;
constexpr uint32_t KCS_WAIT_BUDGET_US = 5000000;
constexpr int KCS_ABORT_ATTEMPTS = 10;

// A fixed 5 ms between reads, at most 1001 reads: the plain schedule that
// the backoff replaced, kept so that the benchmark can show what it saves.
constexpr uint32_t KCS_FIXED_POLL_LIMIT = 1001;
constexpr uint32_t KCS_FIXED_POLL_DELAY_US = 5000;

// Backoff, unless a benchmark asks for the old schedule.
enum class KcsWaitSchedule { Backoff, FixedPoll };

struct KcsWait {
  KcsWaitSchedule schedule;
  uint32_t failedPolls;
  uint32_t stalledUs;
};

inline KcsWait KcsWaitBegin(KcsWaitSchedule schedule) { return KcsWait{schedule, 0, 0}; }

// Called after a poll that did not see the condition. False when the wait has
// run out; otherwise it has stalled and the caller polls again.
bool KcsWaitAfterFailedPoll(KcsWait& wait);
