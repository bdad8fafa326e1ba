#include "platform/host/host_token_check.h"

#include "app/driver.h"
#include "platform/host/host_console.h"
#include "platform/print.h"

HostTokenCheck HostCheckTokens(const std::vector<std::string>& tokens) {
  std::vector<std::string> copies(tokens);
  std::vector<char*> items;
  items.reserve(copies.size());
  for (std::string& token : copies) items.push_back(token.data());
  HostTokenCheck check{false, {}, {}};
  // No scanner is asked, but nothing may wait on the caller's input either.
  const std::string noInput;
  HostConsoleCapture(&check.output);
  HostConsoleSetInput(&noInput);
  const int status = TagforgeCheck(static_cast<int>(items.size()), items.data());
  HostConsoleSetInput(nullptr);
  HostConsoleCapture(nullptr);
  check.passed = status == 0;
  for (int i = 0; i < ConsoleErrorLineCount(); ++i) check.errorLines.emplace_back(ConsoleErrorLine(i));
  return check;
}
