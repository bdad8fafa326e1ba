#include "platform/host/host_sim_device.h"

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "simulated_bmc.h"

#ifndef TAGFORGE_MANUFACTURER_ID
#define TAGFORGE_MANUFACTURER_ID 32473
#endif

namespace {

constexpr const char* SIM_DEFAULT_FRU_FILE = "tagforge-fru.bin";

PlatformStatus SimRead(void* context, uint16_t port, uint8_t* value) {
  return static_cast<sim::SimulatedBmc*>(context)->Read(port, value) ? PLATFORM_SUCCESS : PLATFORM_DEVICE_ERROR;
}

PlatformStatus SimWrite(void* context, uint16_t port, uint8_t value) {
  return static_cast<sim::SimulatedBmc*>(context)->Write(port, value) ? PLATFORM_SUCCESS : PLATFORM_DEVICE_ERROR;
}

class SimDevice : public HostDevice {
 public:
  // refusal: the line that keeps a write off a FRU file holding something
  // else (empty: never refused).
  SimDevice(sim::SimulatedBmc* bmc, std::unique_ptr<sim::SimulatedBmc> owned, std::string refusal)
      : owned_(std::move(owned)), bmc_(bmc), refusal_(std::move(refusal)), io_{SimRead, SimWrite, bmc} {}

  PlatformFruAccess Access() override {
    return PlatformFruAccess{PlatformFruAccessKind::Ports, nullptr, nullptr, Refuse, this};
  }
  // A simulated BMC told to fail the lookup has no ports to give.
  const PlatformCpuIo* Ports() override { return bmc_->LocateFails() ? nullptr : &io_; }
  // A stall advances the simulated BMC's clock: no real time passes.
  bool Stall(uint32_t microseconds) override {
    bmc_->Stall(microseconds);
    return true;
  }
  sim::SimulatedBmc* Simulation() const { return bmc_; }
  // The file was read when the device opened, before the run's lock: another
  // run may have written it since, and this one must start from what it holds.
  bool HoldForRun(bool, std::string* problem) override {
    std::string error;
    if (bmc_->Reload(&error)) return true;
    *problem = "[ERROR] The simulated BMC " + error;
    return false;
  }

 private:
  static const char* Refuse(void* context, bool holdsFru) {
    const SimDevice* device = static_cast<const SimDevice*>(context);
    return holdsFru || device->refusal_.empty() ? nullptr : device->refusal_.c_str();
  }

  std::unique_ptr<sim::SimulatedBmc> owned_;
  sim::SimulatedBmc* bmc_;
  std::string refusal_;
  PlatformCpuIo io_;
};

// One name however the path was written: the journal finds its entries by it.
std::string SimName(const std::string& path) {
  std::error_code failed;
  const std::filesystem::path canonical =
      std::filesystem::weakly_canonical(std::filesystem::absolute(path), failed);
  return "sim:" + (failed ? std::filesystem::absolute(path).lexically_normal() : canonical).string();
}

// A FRU file reached by two paths (a hard link) is one FRU: its lock is on the file itself.
std::string SimLockName(const std::string& path, const std::string& name) {
  struct stat info{};
  if (stat(path.c_str(), &info) != 0) return name;
  return "sim-file:" + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

}  // namespace

std::unique_ptr<HostDevice> HostSimulatedBmcDevice(sim::SimulatedBmc* bmc) {
  return std::make_unique<SimDevice>(bmc, nullptr, "");
}

sim::SimulatedBmc* HostSimulationOf(HostDevice* device) {
  const SimDevice* simulated = dynamic_cast<const SimDevice*>(device);
  return simulated == nullptr ? nullptr : simulated->Simulation();
}

// TAGFORGE_BMC=sim or sim:PATH; the file is created from the sample FRU when missing.
bool HostOpenSim(const std::string& suffix, const HostRoots&, HostOpened* opened, std::string* error) {
  std::string path = SIM_DEFAULT_FRU_FILE;
  if (suffix.size() > 1 && suffix[0] == ':') {
    path = suffix.substr(1);
  } else if (!suffix.empty()) {
    return false;
  }
  std::unique_ptr<sim::SimulatedBmc> bmc = sim::SimulatedBmcFromEnvironment(TAGFORGE_MANUFACTURER_ID, error);
  if (bmc == nullptr || !bmc->Open(path, error)) {
    *error = "tagforge: simulated BMC: " + *error;
    return false;
  }
  opened->name = SimName(path);
  opened->lockName = SimLockName(path, opened->name);
  sim::SimulatedBmc* raw = bmc.get();
  opened->device = std::make_unique<SimDevice>(raw, std::move(bmc), "[ERROR] " + path + " holds no FRU data");
  return true;
}
