// The token checks a station runs in its own process, line after line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/host/host_token_check.h"

namespace {

TEST(TokenCheck, EachLineIsCheckedOnItsOwnAsACheckRunWould) {
  struct Case {
    std::vector<std::string> tokens;
    bool passed;
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {{"ID=0", "BSN=EXB01", "BDT=2025/6/7"}, true, {}},
      {{"ID=0", "BSN"}, false,
       {"[ERROR] BSN without a value asks the bar-code scanner, which a check does not: give BSN=VALUE"}},
      {{"ID=0", "BSM=typo"}, false, {"[ERROR] Unsupported parameter: BSM=typo"}},
      {{"ID=0", "BSN=" + std::string(70, 'x')}, false, {"[ERROR] Parameter size > 63 bytes"}},
      {{"ID=0", "PSN=EXS01", "-v"}, true, {}},  // nothing of a failed line is left over
  };
  for (int round = 0; round < 2; ++round) {
    for (const Case& c : cases) {
      const HostTokenCheck check = HostCheckTokens(c.tokens);
      EXPECT_EQ(check.passed, c.passed) << check.output;
      EXPECT_EQ(check.errorLines, c.errors) << check.output;
      const std::string last = "check passed.\n";
      EXPECT_EQ(check.output.size() >= last.size() && check.output.compare(check.output.size() - last.size(), last.size(), last) == 0,
                c.passed)
          << check.output;
    }
  }
  EXPECT_EQ(HostCheckTokens({"ID=0", "BSN=EXB01"}).output,
            "       Board Serial Number: \"EXB01\" (5 bytes)\ncheck passed.\n");
}

}  // namespace
