// The BMC side of an IPMI KCS system interface: the status, command and data
// registers, IBF and OBF, and the idle / read / write / error states with the
// WRITE_START, WRITE_END, READ and GET_STATUS/ABORT control codes. The BMC
// takes each byte the host writes ibfClearUs after it was written, and puts
// the first response byte out responseReadyUs after the request's last byte.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim_config.h"
#include "virtual_clock.h"

namespace sim {

// What the host did that the KCS protocol forbids and a real BMC may punish
// (lose the byte, drop the request, report an error): the count, and the first.
struct KcsViolations {
  uint64_t count = 0;
  std::string first;
};

class KcsDevice {
 public:
  enum State : uint8_t { kIdleState = 0, kReadState = 1, kWriteState = 2, kErrorState = 3 };
  // Answers one whole request message; no value means the BMC never answers.
  using Handler = std::function<std::optional<std::vector<uint8_t>>(const std::vector<uint8_t>&)>;

  KcsDevice(VirtualClock& clock, const Latency& latency, Handler handler);

  uint8_t ReadStatus();
  uint8_t ReadData();
  void WriteCommand(uint8_t code);
  void WriteData(uint8_t byte);

  void ForceState(State state);
  // A response byte left unread in the output register, as a run that stopped
  // in the middle of a response leaves it.
  void LeaveUnreadByte();
  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  void SetIbfStuck(bool stuck) { ibfStuck_ = stuck; }
  // Once hung, the BMC stops taking bytes: IBF stays set.
  void Hang() { hung_ = true; }
  void SetFlood(bool flood) { flood_ = flood; }

  // The time the BMC itself imposed: its delay for every byte it took and for
  // every answer. No host, however quick, finishes sooner.
  uint64_t ForcedUs() const { return forcedUs_; }
  uint64_t BytesTaken() const { return bytesTaken_; }
  // Responses the host has read to their end.
  uint64_t ResponsesCompleted() const { return responsesCompleted_; }
  const KcsViolations& Violations() const { return violations_; }

 private:
  enum class Phase { Idle, Writing, LastByte, Answering, Reading, AbortData, AbortStatus, Error };

  void Update();
  void Write(uint8_t byte, bool isCommand);
  void Take(uint8_t byte, bool isCommand);
  void TakeCommand(uint8_t code);
  void TakeData(uint8_t byte);
  void Output(uint8_t byte, uint64_t at);
  void EnterError();
  uint32_t Draw(uint32_t low, uint32_t high);
  void Violate(const std::string& what);
  void CheckWrite(uint8_t byte, bool isCommand);

  VirtualClock& clock_;
  Latency latency_;
  Handler handler_;

  State state_ = kIdleState;
  Phase phase_ = Phase::Idle;
  bool ibf_ = false;
  bool obf_ = false;
  bool ibfStuck_ = false;
  bool hung_ = false;
  bool flood_ = false;
  uint8_t input_ = 0;
  bool inputIsCommand_ = false;
  uint64_t inputWrittenAt_ = 0;
  uint64_t inputTakenAt_ = 0;
  uint8_t output_ = 0;
  std::optional<std::pair<uint8_t, uint64_t>> pendingOutput_;
  std::vector<uint8_t> request_;
  std::vector<uint8_t> response_;
  size_t responseIndex_ = 0;
  uint64_t answerReadyAt_ = 0;
  uint8_t errorCode_ = 0;
  std::mt19937 random_{20261209};
  uint64_t forcedUs_ = 0;
  uint64_t bytesTaken_ = 0;
  uint64_t responsesCompleted_ = 0;
  KcsViolations violations_;
};

}  // namespace sim
