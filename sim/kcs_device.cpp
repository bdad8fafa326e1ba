#include "kcs_device.h"

#include <cstdio>

namespace sim {

namespace {

constexpr uint8_t kGetStatusAbort = 0x60;
constexpr uint8_t kWriteStart = 0x61;
constexpr uint8_t kWriteEnd = 0x62;
constexpr uint8_t kRead = 0x68;
constexpr uint8_t kDummyByte = 0x00;
constexpr size_t kRequestMax = 512;

// KCS error codes the BMC reports in the abort sequence.
constexpr uint8_t kErrorNone = 0x00;
constexpr uint8_t kErrorAborted = 0x01;
constexpr uint8_t kErrorIllegalControlCode = 0x02;
constexpr uint8_t kErrorLengthError = 0x06;

}  // namespace

KcsDevice::KcsDevice(VirtualClock& clock, const Latency& latency, Handler handler)
    : clock_(clock), latency_(latency), handler_(std::move(handler)) {}

void KcsDevice::LeaveUnreadByte() {
  state_ = kReadState;
  phase_ = Phase::Reading;
  response_ = {0x1C, 0x01, 0x00};
  responseIndex_ = 0;
  output_ = response_[0];
  obf_ = true;
}

void KcsDevice::Violate(const std::string& what) {
  if (violations_.count++ == 0) violations_.first = what;
}

// The host's side of the handshake, checked as each byte is written.
void KcsDevice::CheckWrite(uint8_t byte, bool isCommand) {
  char code[8];
  snprintf(code, sizeof(code), "0x%02X", byte);
  const std::string what = std::string(isCommand ? "command " : "data ") + code;
  if (ibf_ || ibfStuck_) {
    Violate(what + " written while IBF was set");
    return;
  }
  if (!isCommand && phase_ == Phase::AbortData && obf_) Violate(what + " of an abort written while OBF was still set");
  if (!isCommand && phase_ == Phase::Idle) Violate(what + " written before WRITE_START");
  if (isCommand && byte == kWriteEnd && phase_ != Phase::Writing) Violate("WRITE_END written outside a request");
  if (!isCommand && (phase_ == Phase::Reading || phase_ == Phase::AbortStatus) && byte == kRead && obf_) {
    Violate("READ written while the response byte was still unread");
  }
  if (!isCommand && (phase_ == Phase::Answering || phase_ == Phase::Error)) {
    Violate(what + " written without a response byte to follow");
  }
}

void KcsDevice::ForceState(State state) {
  state_ = state;
  phase_ = state == kWriteState ? Phase::Writing : state == kErrorState ? Phase::Error : Phase::Idle;
  if (state == kReadState) phase_ = Phase::Reading;
}

uint8_t KcsDevice::ReadStatus() {
  Update();
  bool ibf = ibf_ || ibfStuck_;
  return static_cast<uint8_t>(state_ << 6 | (ibf ? 0x02 : 0) | (obf_ ? 0x01 : 0));
}

uint8_t KcsDevice::ReadData() {
  Update();
  if (!obf_) Violate("data register read while OBF was clear");
  obf_ = false;
  return output_;
}

void KcsDevice::WriteCommand(uint8_t code) { Write(code, true); }

void KcsDevice::WriteData(uint8_t byte) { Write(byte, false); }

// Either register: IBF is set until the BMC takes the byte.
void KcsDevice::Write(uint8_t byte, bool isCommand) {
  Update();
  CheckWrite(byte, isCommand);
  input_ = byte;
  inputIsCommand_ = isCommand;
  ibf_ = true;
  inputWrittenAt_ = clock_.Now();
  inputTakenAt_ = inputWrittenAt_ + Draw(latency_.ibfClearUs, latency_.ibfClearMaxUs);
}

void KcsDevice::Update() {
  if (ibf_ && !ibfStuck_ && !hung_ && clock_.Now() >= inputTakenAt_) {
    ibf_ = false;
    forcedUs_ += inputTakenAt_ - inputWrittenAt_;
    ++bytesTaken_;
    Take(input_, inputIsCommand_);
  }
  if (phase_ == Phase::Answering && clock_.Now() >= answerReadyAt_) {
    phase_ = Phase::Reading;
    responseIndex_ = 0;
    Output(response_.empty() ? kDummyByte : response_[0], answerReadyAt_);
  }
  if (pendingOutput_ && clock_.Now() >= pendingOutput_->second) {
    output_ = pendingOutput_->first;
    obf_ = true;
    pendingOutput_.reset();
  }
}

uint32_t KcsDevice::Draw(uint32_t low, uint32_t high) {
  if (high <= low) return low;
  return std::uniform_int_distribution<uint32_t>(low, high)(random_);
}

void KcsDevice::Output(uint8_t byte, uint64_t at) { pendingOutput_ = std::make_pair(byte, at); }

void KcsDevice::EnterError() {
  state_ = kErrorState;
  phase_ = Phase::Error;
  pendingOutput_.reset();
}

void KcsDevice::Take(uint8_t byte, bool isCommand) {
  if (isCommand) {
    TakeCommand(byte);
  } else {
    TakeData(byte);
  }
}

void KcsDevice::TakeCommand(uint8_t code) {
  switch (code) {
    case kWriteStart:
      // Starts a new request from any state, dropping what was going on.
      state_ = kWriteState;
      phase_ = Phase::Writing;
      request_.clear();
      pendingOutput_.reset();
      break;
    case kWriteEnd:
      if (phase_ != Phase::Writing) {
        errorCode_ = kErrorIllegalControlCode;
        EnterError();
        break;
      }
      phase_ = Phase::LastByte;
      break;
    case kGetStatusAbort:
      state_ = kWriteState;
      phase_ = Phase::AbortData;
      pendingOutput_.reset();
      if (errorCode_ == kErrorNone) errorCode_ = kErrorAborted;
      break;
    default:
      errorCode_ = kErrorIllegalControlCode;
      EnterError();
      break;
  }
}

void KcsDevice::TakeData(uint8_t byte) {
  // The BMC acts when it takes the byte, however much later the host looks.
  const uint64_t now = inputTakenAt_;
  switch (phase_) {
    case Phase::Writing:
      if (request_.size() == kRequestMax) {
        errorCode_ = kErrorLengthError;
        EnterError();
        break;
      }
      request_.push_back(byte);
      break;
    case Phase::LastByte: {
      request_.push_back(byte);
      state_ = kReadState;
      std::optional<std::vector<uint8_t>> answer = handler_(request_);
      if (!answer) {
        Hang();  // the BMC took the request and never answers
        phase_ = Phase::Answering;
        answerReadyAt_ = UINT64_MAX;
        break;
      }
      response_ = std::move(*answer);
      phase_ = Phase::Answering;
      answerReadyAt_ = now + Draw(latency_.responseReadyUs, latency_.responseReadyMaxUs);
      forcedUs_ += answerReadyAt_ - now;
      errorCode_ = kErrorNone;
      break;
    }
    case Phase::Reading:
      if (byte != kRead) {
        errorCode_ = kErrorIllegalControlCode;
        EnterError();
        break;
      }
      ++responseIndex_;
      if (responseIndex_ < response_.size() || flood_) {
        Output(responseIndex_ < response_.size() ? response_[responseIndex_] : kDummyByte, now);
      } else {
        state_ = kIdleState;
        phase_ = Phase::Idle;
        ++responsesCompleted_;
        Output(kDummyByte, now);
      }
      break;
    case Phase::AbortData:
      state_ = kReadState;
      phase_ = Phase::AbortStatus;
      Output(errorCode_, now);
      break;
    case Phase::AbortStatus:
      if (byte != kRead) {
        errorCode_ = kErrorIllegalControlCode;
        EnterError();
        break;
      }
      state_ = kIdleState;
      phase_ = Phase::Idle;
      errorCode_ = kErrorNone;
      Output(kDummyByte, now);
      break;
    case Phase::Idle:
    case Phase::Answering:
    case Phase::Error:
      errorCode_ = kErrorIllegalControlCode;
      EnterError();
      break;
  }
}

}  // namespace sim
