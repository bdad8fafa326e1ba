// The host's stall is real time when no simulated BMC keeps a clock: the pause
// after each chunk and the longer one for a busy BMC must really pass, or a
// BMC that commits slowly would see its attempts spent in no time.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/host/host_bmc.h"
#include "platform/platform.h"

namespace {

TEST(HostStall, AStallTakesAtLeastItsMicroseconds) {
  HostUseSimulatedBmc(nullptr);
  for (uint32_t microseconds : {1000u, 5000u}) {
    const auto start = std::chrono::steady_clock::now();
    PlatformStall(microseconds);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(std::chrono::duration_cast<std::chrono::microseconds>(took).count(), microseconds);
  }
}

}  // namespace
