// The IPMI side of the simulated BMC: Get Device ID, Get FRU Inventory Area
// Info, Read FRU Data and Write FRU Data for FRU device 0, whose bytes live in
// an image file. Every accepted write reaches the file at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim_config.h"

namespace sim {

class BmcCore {
 public:
  BmcCore(const Identity& identity, const Faults& faults) : identity_(identity), faults_(faults) {}

  // Loads the FRU file, creating it from sampleImage only when it does not
  // exist; any other failure to open it is an error naming it.
  bool Open(const std::string& path, const std::vector<uint8_t>& sampleImage, std::string* error);
  // Uses an image in memory only (unit tests).
  void UseImage(std::vector<uint8_t> image) { fru_ = std::move(image); }

  std::optional<std::vector<uint8_t>> Handle(const std::vector<uint8_t>& request);

  const std::vector<uint8_t>& Fru() const { return fru_; }
  uint64_t Requests() const { return requests_; }
  // Requests of one command received so far (Any: every command but unknown ones).
  uint32_t CommandCount(Command command) const { return counts_[static_cast<int>(command)]; }
  const std::vector<uint8_t>& LastRequest() const { return lastRequest_; }

 private:
  bool ReadFru(int fd, std::string* error);
  std::vector<uint8_t> DeviceId();
  std::vector<uint8_t> DeviceGuid(uint8_t* code);
  std::vector<uint8_t> InventoryInfo(const std::vector<uint8_t>& data, uint8_t* code);
  std::vector<uint8_t> ReadFru(const std::vector<uint8_t>& data, uint8_t* code);
  std::vector<uint8_t> WriteFru(const std::vector<uint8_t>& data, uint8_t* code);
  std::optional<uint8_t> InjectedCode(Command command);

  Identity identity_;
  Faults faults_;
  std::vector<uint8_t> fru_;
  std::string path_;
  uint64_t requests_ = 0;
  std::vector<uint8_t> lastRequest_;
  uint32_t counts_[6] = {};
  uint32_t writes_ = 0;
};

}  // namespace sim
