#include "bmc/kcs_transfer.h"

#include "bmc/kcs_wait.h"
#include "bmc/port_access.h"
#include "runtime/print.h"
#include "runtime/verbose.h"

namespace {

// A request is at most 255 bytes (the BMC counts them in one byte).
constexpr size_t KCS_REQUEST_MAX = 255;
// A BMC that keeps offering bytes ends the read phase as a failure here.
constexpr size_t KCS_RESPONSE_READ_MAX = KCS_BUFFER_SIZE;

uint8_t StateOf(uint8_t status) { return status >> KCS_STATUS_STATE_SHIFT; }

uint8_t ReadStatus() {
  uint8_t status;
  PortRead8(KCS_STATUS_PORT, &status);
  return status;
}

void DiscardData() {
  uint8_t ignored;
  PortRead8(KCS_DATA_PORT, &ignored);
}

enum class Flag { IbfClear, ObfSet };

// Polls until the flag condition holds; the last status read is left in
// *status. With stopOnAbsent, a status of 0xFF ends the wait at once.
bool WaitFor(KcsWaitSchedule waits, Flag flag, uint8_t* status, bool stopOnAbsent = false) {
  KcsWait wait = KcsWaitBegin(waits);
  for (;;) {
    *status = ReadStatus();
    if (stopOnAbsent && *status == KCS_STATUS_ABSENT) return false;
    bool holds = flag == Flag::IbfClear ? (*status & KCS_STATUS_IBF) == 0 : (*status & KCS_STATUS_OBF) != 0;
    if (holds) return true;
    if (!KcsWaitAfterFailedPoll(wait)) return false;
  }
}

int KcsErrorExit(KcsWaitSchedule waits) {
  for (int attempt = 1; attempt <= KCS_ABORT_ATTEMPTS; ++attempt) {
    uint8_t status;
    if (!WaitFor(waits, Flag::IbfClear, &status, true)) return KCS_FAILED;
    PortWrite8(KCS_STATUS_PORT, KCS_GET_STATUS_ABORT);
    if (!WaitFor(waits, Flag::IbfClear, &status)) return KCS_FAILED;
    // A response byte left in the output register would be taken for the
    // abort's status: it is read away before the 0x00 goes out.
    if ((status & KCS_STATUS_OBF) != 0) DiscardData();
    PortWrite8(KCS_DATA_PORT, KCS_ABORT_DATA);
    if (!WaitFor(waits, Flag::IbfClear, &status)) return KCS_FAILED;
    if (StateOf(status) != KCS_READ_STATE) continue;
    if (!WaitFor(waits, Flag::ObfSet, &status)) return KCS_FAILED;
    DiscardData();  // the BMC's error status byte
    PortWrite8(KCS_DATA_PORT, KCS_READ);
    if (!WaitFor(waits, Flag::IbfClear, &status)) return KCS_FAILED;
    if (StateOf(status) != KCS_IDLE_STATE) continue;
    if (!WaitFor(waits, Flag::ObfSet, &status)) return KCS_FAILED;
    DiscardData();
    return KCS_OK;
  }
  return KCS_FAILED;
}

// Waits for the BMC to reach the expected state. For READ_STATE, an idle BMC
// means the response has ended: its dummy byte is read and *ended is set.
int KcsWaitState(KcsWaitSchedule waits, uint8_t expected, bool* ended) {
  *ended = false;
  uint8_t status;
  if (!WaitFor(waits, Flag::IbfClear, &status)) return KCS_FAILED;
  uint8_t state = StateOf(status);
  if (state == expected) {
    if (expected == KCS_WRITE_STATE) {
      if ((status & KCS_STATUS_OBF) != 0) DiscardData();  // a stale byte; an empty register is not read
      return KCS_OK;
    }
    return WaitFor(waits, Flag::ObfSet, &status) ? KCS_OK : KCS_FAILED;
  }
  if (state == KCS_IDLE_STATE && expected == KCS_READ_STATE) {
    *ended = true;
    if (!WaitFor(waits, Flag::ObfSet, &status)) return KCS_FAILED;
    DiscardData();
    return KCS_OK;
  }
  KcsErrorExit(waits);
  return KCS_FAILED;
}

// Polls until the interface is idle, aborting whatever it is still doing.
int WaitIdle(KcsWaitSchedule waits) {
  KcsWait wait = KcsWaitBegin(waits);
  for (;;) {
    uint8_t status = ReadStatus();
    if (StateOf(status) != KCS_IDLE_STATE) {
      if (KcsErrorExit(waits) != KCS_OK) return KCS_FAILED;
    } else if ((status & KCS_IDLE_CHECK_MASK) == 0) {
      return KCS_OK;
    }
    if (!KcsWaitAfterFailedPoll(wait)) return KCS_FAILED;
  }
}

int WriteState(KcsWaitSchedule waits) {
  bool ended;
  return KcsWaitState(waits, KCS_WRITE_STATE, &ended);
}

}  // namespace

int KcsWriteRequest(KcsInterface& kcs, size_t length) {
  if (length == 0 || length > KCS_REQUEST_MAX) return KCS_FAILED;
  if (gVerbose) {
    Print("[KCS] cmd:");
    for (size_t i = 0; i < length; ++i) Print("0x%02x ", kcs.request[i]);
    Print("\n");
  }
  if (WaitIdle(kcs.waits) != KCS_OK) return KCS_FAILED;
  PortWrite8(KCS_STATUS_PORT, KCS_WRITE_START);
  if (WriteState(kcs.waits) != KCS_OK) return KCS_FAILED;
  for (size_t i = 0; i < length; ++i) {
    if (i == length - 1) {
      if (WriteState(kcs.waits) != KCS_OK) return KCS_FAILED;
      PortWrite8(KCS_STATUS_PORT, KCS_WRITE_END);
    }
    // Before every data byte, the first included: IBF clear, still in the
    // write state, OBF cleared. For the first byte the wait after WRITE_START
    // has just seen all that, but a BMC may leave the write state between the
    // two (an abort from another agent, a BMC reset); a byte written then
    // would land in the wrong phase, so the check is made each time, at the
    // cost of one status read.
    if (WriteState(kcs.waits) != KCS_OK) return KCS_FAILED;
    PortWrite8(KCS_DATA_PORT, kcs.request[i]);
  }
  return KCS_OK;
}

int KcsReadResponse(KcsInterface& kcs) {
  size_t index = 0;
  int status = KCS_OK;
  for (;;) {
    bool ended;
    status = KcsWaitState(kcs.waits, KCS_READ_STATE, &ended);
    if (status != KCS_OK) break;
    if (ended) {
      kcs.responseLength = static_cast<int32_t>(index);
      break;
    }
    if (index == KCS_RESPONSE_READ_MAX) {
      status = KCS_FAILED;
      break;
    }
    PortRead8(KCS_DATA_PORT, &kcs.response[index]);
    ++index;
    PortWrite8(KCS_DATA_PORT, KCS_READ);
  }
  if (gVerbose) {
    Print("[KCS] OUTPUT>>>\n");
    if (status == KCS_OK) {
      for (int32_t i = 0; i < kcs.responseLength; ++i) Print("0x%02x ", kcs.response[i]);
    }
    Print("[KCS] Status=%d<<<\n", status);
  }
  return status;
}
