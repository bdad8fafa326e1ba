// IPMI requests over a transport: the request framed and sent, the answer
// (completion code and data) handed back by value. Everything above this seam
// is the same for every transport.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

constexpr uint8_t IPMI_NETFN_APP = 0x06;
constexpr uint8_t IPMI_NETFN_STORAGE = 0x0A;
constexpr uint8_t IPMI_CMD_GET_DEVICE_ID = 0x01;
constexpr uint8_t IPMI_CMD_GET_DEVICE_GUID = 0x08;
constexpr uint8_t IPMI_CMD_GET_FRU_INVENTORY_AREA_INFO = 0x10;
constexpr uint8_t IPMI_CMD_READ_FRU_DATA = 0x11;
constexpr uint8_t IPMI_CMD_WRITE_FRU_DATA = 0x12;

constexpr uint8_t IPMI_CC_OK = 0x00;

// Request bytes before the data: network function (shifted) and command.
constexpr size_t IPMI_REQUEST_HEADER = 2;

using IpmiAnswer = PlatformIpmiAnswer;

// Sends one request with the given data bytes and waits for its answer within
// the transport's bounds. A request longer than a message holds is not sent
// (a failed transfer).
IpmiAnswer IpmiSendCommand(const PlatformIpmiTransport& transport, uint8_t netFn, uint8_t command,
                           const uint8_t* data, size_t dataLength);

// Answered with completion code 0 and at least minimum data bytes.
inline bool IpmiAnswerHolds(const IpmiAnswer& answer, size_t minimum) {
  return answer.answered && answer.completionCode == IPMI_CC_OK && answer.length >= minimum;
}
