// The FRU of a BMC that stores it later (the model of OpenBMC's IPMI daemon):
// Write FRU Data goes into a cache of the whole FRU and answers count 0, and a
// timer stores the cache 10 s after the last write; a write that reaches the
// end of the last area stores the cache at once, when it parses as FRU data
// (else 0xCC). Reads answer from the cache while there is one. After a store
// the FRU service shows the image from before it for 1 s, then no device for
// 200 ms (0xCE), then what the file holds. Times follow the simulated clock.
// The cache and its deadline live beside the FRU file, so that the next run
// meets what a killed run left, as it would on a BMC whose daemon kept running.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "virtual_clock.h"

namespace sim {

class LaterStore {
 public:
  // never: the stores are answered as done and never happen (a FRU service whose writes fail unseen).
  LaterStore(const VirtualClock* clock, bool never) : clock_(clock), never_(never) {}

  // fru is the file's bytes, kept by the caller; path empty: no file, nothing kept across runs.
  void Open(const std::string& path, std::vector<uint8_t>* fru);

  // The timer's store, once its deadline has passed.
  void Tick();
  // What Read FRU Data and Get FRU Inventory Area Info answer from, or null
  // while the device is missing after a store.
  const std::vector<uint8_t>* Visible();
  // Write FRU Data: 0 with *count, or a completion code.
  uint8_t Write(size_t offset, const std::vector<uint8_t>& bytes, uint8_t* count);

 private:
  std::optional<std::vector<uint8_t>> ServiceView();
  void StoreNow();
  void Save() const;
  uint64_t Now() const { return clock_ != nullptr ? clock_->Now() : 0; }

  const VirtualClock* clock_;
  bool never_;
  std::string path_;
  std::vector<uint8_t>* fru_ = nullptr;
  std::optional<std::vector<uint8_t>> cache_;
  std::optional<uint64_t> deadline_;
  // The last store: when, and what the FRU service showed before it.
  std::optional<uint64_t> storedAt_;
  std::vector<uint8_t> beforeStore_;
  std::vector<uint8_t> visible_;
};

}  // namespace sim
