// What the FRU and value tests share: a fresh run per test with its console
// captured, and the image builders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/run_state.h"
#include "fields/catalogue.h"
#include "fru_bytes.h"
#include "ipmi_fru_peer.h"
#include "platform/host/host_console.h"
#include "platform/print.h"
#include "runtime/arena.h"
#include "runtime/verbose.h"

// Each test starts a fresh run: empty arena, pristine catalogue, no traces,
// console captured.
class FruTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartRun(nullptr);
    AttachConsole();
    HostConsoleCapture(&console_);
    HostConsoleSetInput(&noInput_);  // nothing ever waits for the real standard input
  }
  void TearDown() override {
    HostConsoleCapture(nullptr);
    HostConsoleSetInput(nullptr);
  }

  std::string TakeConsole() {
    std::string text;
    text.swap(console_);
    return text;
  }

  std::string console_;
  const std::string noInput_;
};

inline FieldEntry& RowByKeyword(FieldCatalogue& catalogue, const std::string& keyword) {
  for (FieldEntry& row : catalogue.rows) {
    if (keyword == row.Keyword) return row;
  }
  throw std::runtime_error("no row " + keyword);
}

inline void SetText(FieldEntry& row, const std::string& text, uint8_t type = 0xC0) {
  row.Size = static_cast<int32_t>(text.size());
  row.Type = type;
  std::copy(text.begin(), text.end(), row.Data);
  row.Data[text.size()] = 0;
}
