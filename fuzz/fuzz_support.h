// Shared by the fuzz targets: a fresh run state and a console that discards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/run_state.h"
#include "bmc/port_access.h"
#include "fields/catalogue.h"
#include "platform/host/host_console.h"
#include "platform/print.h"
#include "runtime/arena.h"
#include "runtime/verbose.h"

inline void FreshRun(std::string& console) {
  StartRun(nullptr);
  console.clear();
  AttachConsole();
  HostConsoleCapture(&console);
}

// Stops the run at once when a property the tool promises does not hold.
#define FUZZ_REQUIRE(condition)                                              \
  do {                                                                       \
    if (!(condition)) {                                                      \
      fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      __builtin_trap();                                                      \
    }                                                                        \
  } while (0)
