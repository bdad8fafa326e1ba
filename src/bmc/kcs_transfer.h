// One IPMI message to the BMC and one back over the KCS system interface: a
// polled host-side state machine with the abort sequence that brings a stuck
// interface back to idle. Message contents are the request layer's business.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "bmc/kcs_wait.h"

constexpr size_t KCS_BUFFER_SIZE = 512;

// Status register bits.
constexpr uint8_t KCS_STATUS_OBF = 0x01;
constexpr uint8_t KCS_STATUS_IBF = 0x02;
constexpr uint8_t KCS_STATUS_STATE_SHIFT = 6;
constexpr uint8_t KCS_STATUS_ABSENT = 0xFF;
constexpr uint8_t KCS_IDLE_CHECK_MASK = 0xC2;  // state bits and IBF

constexpr uint8_t KCS_IDLE_STATE = 0;
constexpr uint8_t KCS_READ_STATE = 1;
constexpr uint8_t KCS_WRITE_STATE = 2;
constexpr uint8_t KCS_ERROR_STATE = 3;

// Control codes.
constexpr uint8_t KCS_GET_STATUS_ABORT = 0x60;
constexpr uint8_t KCS_WRITE_START = 0x61;
constexpr uint8_t KCS_WRITE_END = 0x62;
constexpr uint8_t KCS_READ = 0x68;
constexpr uint8_t KCS_ABORT_DATA = 0x00;

constexpr int KCS_OK = 0;
constexpr int KCS_FAILED = 1;

// One KCS interface's transfer state: one request at a time, owned by the
// transport that drives the interface.
struct KcsInterface {
  uint8_t request[KCS_BUFFER_SIZE];
  uint8_t response[KCS_BUFFER_SIZE];
  int32_t responseLength;  // valid after a read phase that returned KCS_OK
  KcsWaitSchedule waits;
};

// Sends the first length bytes (1 to 255) of kcs.request.
int KcsWriteRequest(KcsInterface& kcs, size_t length);
// Collects the response into kcs.response and kcs.responseLength. A BMC that
// offers more bytes than the buffer holds fails the phase: an answer is never
// cut or wrapped.
int KcsReadResponse(KcsInterface& kcs);
