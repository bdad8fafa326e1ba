// The IPMI side of the simulated BMC: Get Device ID, Get FRU Inventory Area
// Info, Read FRU Data and Write FRU Data for FRU device 0, whose bytes live in
// an image file. Every accepted write reaches the file at once, unless the
// BMC stores later (store_later.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim_config.h"
#include "store_later.h"
#include "virtual_clock.h"

namespace sim {

class BmcCore {
 public:
  // clock: what the BMC's own timers follow (a BMC that stores later).
  BmcCore(const Identity& identity, const Faults& faults, const VirtualClock* clock = nullptr)
      : identity_(identity), faults_(faults) {
    if (faults.store != StoreMode::AtOnce) later_.emplace(clock, faults.store == StoreMode::Never);
  }

  // Loads the FRU file, creating it from sampleImage only when it does not
  // exist; any other failure to open it is an error naming it.
  bool Open(const std::string& path, const std::vector<uint8_t>& sampleImage, std::string* error);
  // Reads the FRU file again, once the run holds its lock: what Open read may
  // be what another run has since written over.
  bool Reload(std::string* error);
  // Uses an image in memory only (unit tests).
  void UseImage(std::vector<uint8_t> image) {
    fru_ = std::move(image);
    if (later_) later_->Open("", &fru_);
  }

  std::optional<std::vector<uint8_t>> Handle(const std::vector<uint8_t>& request);

  // What the FRU file (the chip) holds.
  const std::vector<uint8_t>& Fru() const { return fru_; }
  uint64_t Requests() const { return requests_; }
  // Requests of one command received so far (Any: every command but unknown ones).
  uint32_t CommandCount(Command command) const { return counts_[static_cast<int>(command)]; }
  const std::vector<uint8_t>& LastRequest() const { return lastRequest_; }

 private:
  bool Load(const std::vector<uint8_t>& sampleImage, std::string* error);
  bool ReadFru(int fd, std::string* error);
  std::vector<uint8_t> DeviceId();
  std::vector<uint8_t> DeviceGuid(uint8_t* code);
  std::vector<uint8_t> InventoryInfo(const std::vector<uint8_t>& data, uint8_t* code);
  std::vector<uint8_t> ReadFru(const std::vector<uint8_t>& data, uint8_t* code);
  std::vector<uint8_t> WriteFru(const std::vector<uint8_t>& data, uint8_t* code);
  std::optional<uint8_t> InjectedCode(Command command);
  // What reads answer from (the file's bytes, or a cache); null with *code set when there is none.
  const std::vector<uint8_t>* Visible(uint8_t* code);

  Identity identity_;
  Faults faults_;
  std::vector<uint8_t> fru_;
  std::string path_;
  uint64_t requests_ = 0;
  std::vector<uint8_t> lastRequest_;
  uint32_t counts_[6] = {};
  uint32_t writes_ = 0;
  std::optional<LaterStore> later_;
};

}  // namespace sim
