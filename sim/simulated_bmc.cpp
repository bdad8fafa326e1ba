#include "simulated_bmc.h"

#include <cstdlib>

namespace sim {

SimulatedBmc::SimulatedBmc(const Latency& latency, const Faults& faults, const Identity& identity)
    : latency_(latency),
      faults_(faults),
      core_(identity, faults, &clock_),
      kcs_(clock_, latency, [this](const std::vector<uint8_t>& request) { return core_.Handle(request); }) {
  kcs_.SetIbfStuck(faults.ibfStuck);
  kcs_.SetFlood(faults.flood);
  if (faults.initialState == InitialState::Write) kcs_.ForceState(KcsDevice::kWriteState);
  if (faults.initialState == InitialState::Error) kcs_.ForceState(KcsDevice::kErrorState);
  if (faults.initialState == InitialState::Read) kcs_.LeaveUnreadByte();
}

bool SimulatedBmc::Open(const std::string& fruPath, std::string* error) {
  return core_.Open(fruPath, SampleFruImage(), error);
}

bool SimulatedBmc::PortFails(bool onRead, uint64_t index) const {
  for (const PortFault& f : faults_.portFaults) {
    if (f.onRead != onRead) continue;
    if (f.first != 0 ? f.first == index : kcs_.ResponsesCompleted() >= f.fromRequest) return true;
  }
  return false;
}

bool SimulatedBmc::Read(uint16_t port, uint8_t* value) {
  clock_.Advance(latency_.portAccessUs);
  if (port == kStatusPort) {
    ++stats_.statusReads;
  } else {
    ++stats_.dataReads;
  }
  if (PortFails(true, ++reads_)) return false;
  if (faults_.absent || (port != kStatusPort && port != kDataPort)) {
    *value = 0xFF;
    return true;
  }
  *value = port == kStatusPort ? kcs_.ReadStatus() : kcs_.ReadData();
  return true;
}

bool SimulatedBmc::Write(uint16_t port, uint8_t value) {
  clock_.Advance(latency_.portAccessUs);
  ++stats_.portWrites;
  if (PortFails(false, ++writes_)) return false;
  if (faults_.absent) return true;
  if (port == kStatusPort) {
    kcs_.WriteCommand(value);
  } else if (port == kDataPort) {
    kcs_.WriteData(value);
  }
  return true;
}

void SimulatedBmc::Stall(uint32_t microseconds) {
  ++stats_.stalls;
  stats_.stalledUs += microseconds;
  clock_.Advance(microseconds);
}

std::unique_ptr<SimulatedBmc> SimulatedBmcFromEnvironment(uint32_t manufacturerId, std::string* error) {
  Latency latency;
  Faults faults;
  Identity identity{manufacturerId};
  const char* latencyText = getenv("TAGFORGE_SIM_LATENCY");
  const char* faultText = getenv("TAGFORGE_SIM_FAULTS");
  if (latencyText != nullptr && !ParseLatency(latencyText, &latency, error)) return nullptr;
  if (faultText != nullptr && !ParseFaults(faultText, &faults, &identity, error)) return nullptr;
  return std::make_unique<SimulatedBmc>(latency, faults, identity);
}

}  // namespace sim
