// Finding a process a test started (directly or through a script) by what
// /proc says of it, within a bound.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

struct ProcessState {
  pid_t pid;
  std::string name;  // as /proc/PID/stat gives it: "(tagforge)"
  std::string state;  // "R", "S", "T" (stopped), ...
  pid_t parent;
};

// The first process accept takes, looked for every 20 ms for up to 10 s; -1 when none.
template <typename Accept>
pid_t WaitForProcess(Accept accept) {
  for (int tries = 0; tries < 500; ++tries) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      std::ifstream stat(entry.path() / "stat");
      ProcessState p{};
      std::string pid;
      if (stat >> pid >> p.name >> p.state >> p.parent && pid.find_first_not_of("0123456789") == std::string::npos) {
        p.pid = static_cast<pid_t>(std::stol(pid));
        if (accept(p)) return p.pid;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}
