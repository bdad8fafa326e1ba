// A simulated BMC behind the host's ports for one test, with the console captured.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/run_state.h"
#include "bmc/fru_access.h"
#include "platform/host/host_bmc.h"
#include "platform/host/host_console.h"
#include "platform/print.h"
#include "runtime/arena.h"
#include "runtime/verbose.h"
#include "simulated_bmc.h"

class BmcTest : public ::testing::Test {
 protected:
  // Builds the BMC from the same texts as TAGFORGE_SIM_LATENCY and TAGFORGE_SIM_FAULTS.
  sim::SimulatedBmc& Bmc(const std::string& faults = "", const std::string& latency = "",
                         std::vector<uint8_t> fru = std::vector<uint8_t>(512, 0x00)) {
    sim::Latency l;
    sim::Faults f;
    sim::Identity identity{32473};
    std::string error;
    EXPECT_TRUE(sim::ParseLatency(latency, &l, &error)) << error;
    EXPECT_TRUE(sim::ParseFaults(faults, &f, &identity, &error)) << error;
    if (bmc_ != nullptr) {
      EXPECT_EQ(bmc_->Violations().count, 0u) << "first violation: " << bmc_->Violations().first;
    }
    bmc_ = std::make_unique<sim::SimulatedBmc>(l, f, identity);
    bmc_->UseImage(std::move(fru));
    HostUseSimulatedBmc(bmc_.get());
    OpenFruAccess(access_.get(), options_);
    return *bmc_;
  }

  // The run's way to the simulated BMC, as the driver opens it.
  FruDevice& Device() { return access_->device; }
  IpmiFruDevice& Ipmi() { return access_->ipmi; }
  const PlatformIpmiTransport& Transport() { return *access_->ipmi.transport; }
  KcsInterface& Kcs() { return access_->kcs.kcs; }

  void SetUp() override {
    StartRun(nullptr);
    AttachConsole();
    HostConsoleCapture(&console_);
  }
  void TearDown() override {
    HostConsoleCapture(nullptr);
    HostUseSimulatedBmc(nullptr);
    // Whatever a test asserts, the host must not have broken the KCS protocol.
    if (bmc_ != nullptr) {
      EXPECT_EQ(bmc_->Violations().count, 0u) << "first violation: " << bmc_->Violations().first;
    }
  }

  std::string TakeConsole() {
    std::string text;
    text.swap(console_);
    return text;
  }

  std::unique_ptr<sim::SimulatedBmc> bmc_;
  std::unique_ptr<FruAccess> access_ = std::make_unique<FruAccess>();
  FruAccessOptions options_;  // for the next Bmc()
  std::string console_;
};
