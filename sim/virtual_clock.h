// Time in the simulation: advanced by port accesses and by the host's
// stalls, never by the real clock, so tests are fast and repeatable.
#pragma once

#include <cstdint>

namespace sim {

class VirtualClock {
 public:
  uint64_t Now() const { return now_; }
  void Advance(uint64_t microseconds) { now_ += microseconds; }

 private:
  uint64_t now_ = 0;
};

}  // namespace sim
