// The simulated BMC as the host sees it: two I/O ports with a cost per
// access, a virtual clock that the host's stalls advance, faults at the port
// level, and counters for benchmarks and tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bmc_core.h"
#include "kcs_device.h"
#include "sim_config.h"
#include "virtual_clock.h"

namespace sim {

constexpr uint16_t kDataPort = 0xCA2;
constexpr uint16_t kStatusPort = 0xCA3;

struct Stats {
  uint64_t statusReads = 0;
  uint64_t dataReads = 0;
  uint64_t portWrites = 0;
  uint64_t stalls = 0;
  uint64_t stalledUs = 0;
  uint64_t PortAccesses() const { return statusReads + dataReads + portWrites; }
};

class SimulatedBmc {
 public:
  SimulatedBmc(const Latency& latency, const Faults& faults, const Identity& identity);

  bool Open(const std::string& fruPath, std::string* error);
  // The FRU file read again (see BmcCore::Reload).
  bool Reload(std::string* error) { return core_.Reload(error); }
  void UseImage(std::vector<uint8_t> image) { core_.UseImage(std::move(image)); }

  // False when the port access fails (an injected fault).
  bool Read(uint16_t port, uint8_t* value);
  bool Write(uint16_t port, uint8_t value);
  void Stall(uint32_t microseconds);

  // Answers requests with the given handler instead of the IPMI BMC (tests of the transfer).
  void OverrideHandler(KcsDevice::Handler handler) { kcs_.SetHandler(std::move(handler)); }
  const std::vector<uint8_t>& LastRequest() const { return core_.LastRequest(); }
  BmcCore& Core() { return core_; }

  bool LocateFails() const { return faults_.locateFails; }
  uint64_t NowUs() const { return clock_.Now(); }
  const Stats& Counters() const { return stats_; }
  const std::vector<uint8_t>& Fru() const { return core_.Fru(); }
  uint64_t Requests() const { return core_.Requests(); }
  uint32_t CommandCount(Command command) const { return core_.CommandCount(command); }
  uint64_t ForcedUs() const { return kcs_.ForcedUs(); }
  uint64_t BytesTaken() const { return kcs_.BytesTaken(); }
  const KcsViolations& Violations() const { return kcs_.Violations(); }

 private:
  bool PortFails(bool onRead, uint64_t index) const;

  VirtualClock clock_;
  Latency latency_;
  Faults faults_;
  BmcCore core_;
  KcsDevice kcs_;
  Stats stats_;
  uint64_t reads_ = 0;
  uint64_t writes_ = 0;
};

// A realistic FRU for demonstrations: chassis, board and product areas with
// typical fields and one MultiRecord record.
std::vector<uint8_t> SampleFruImage();

// Builds a simulated BMC from TAGFORGE_SIM_LATENCY and TAGFORGE_SIM_FAULTS.
std::unique_ptr<SimulatedBmc> SimulatedBmcFromEnvironment(uint32_t manufacturerId, std::string* error);

}  // namespace sim
