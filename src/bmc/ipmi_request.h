// IPMI requests over the run's message transport (the KCS interface, or one
// the platform names): completion code and response data. Everything above
// this seam is the same for every transport.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr uint8_t IPMI_NETFN_APP = 0x06;
constexpr uint8_t IPMI_NETFN_STORAGE = 0x0A;
constexpr uint8_t IPMI_CMD_GET_DEVICE_ID = 0x01;
constexpr uint8_t IPMI_CMD_GET_DEVICE_GUID = 0x08;
constexpr uint8_t IPMI_CMD_GET_FRU_INVENTORY_AREA_INFO = 0x10;
constexpr uint8_t IPMI_CMD_READ_FRU_DATA = 0x11;
constexpr uint8_t IPMI_CMD_WRITE_FRU_DATA = 0x12;

constexpr int32_t IPMI_TRANSFER_FAILED = -1;
constexpr int32_t IPMI_COMPLETION_ERROR = -2;

// Request bytes before the data: network function (shifted) and command.
constexpr size_t IPMI_REQUEST_HEADER = 2;

extern uint8_t gIpmiCompletionCode;

// Sends one request with the given data bytes. Returns the number of response
// data bytes (at IpmiResponseData()), IPMI_TRANSFER_FAILED, or
// IPMI_COMPLETION_ERROR when the completion code (gIpmiCompletionCode) is not 0.
int32_t IpmiSendCommand(uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength);

// Whether the last request got an answer at all (any completion code): false
// once a BMC has stopped answering.
bool IpmiBmcAnswered();

// The data of the last answer, valid until the next request.
const uint8_t* IpmiResponseData();

// The transport is asked of the platform again on the next request (a new run).
void ResetIpmiTransport();
