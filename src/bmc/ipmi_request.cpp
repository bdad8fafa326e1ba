#include "bmc/ipmi_request.h"

#include "bmc/kcs_transfer.h"

uint8_t gIpmiCompletionCode = 0xFF;

namespace {

constexpr size_t IPMI_REQUEST_MAX = 255;
constexpr uint8_t IPMI_NO_RESPONSE = 0xFF;

// Runs the request framed in the first length bytes of gKcsRequest.
int32_t Transact(size_t length) {
  gIpmiCompletionCode = IPMI_NO_RESPONSE;
  if (KcsWriteRequest(length) != KCS_OK) return IPMI_TRANSFER_FAILED;
  if (KcsReadResponse() != KCS_OK) return IPMI_TRANSFER_FAILED;
  // A reply without a completion code is no answer at all.
  if (gKcsResponseLength < static_cast<int32_t>(IPMI_RESPONSE_HEADER)) return IPMI_TRANSFER_FAILED;
  gIpmiCompletionCode = gKcsResponse[2];
  int32_t dataLength = gKcsResponseLength - static_cast<int32_t>(IPMI_RESPONSE_HEADER);
  for (int32_t i = 0; i < dataLength; ++i) gKcsResponse[i] = gKcsResponse[i + IPMI_RESPONSE_HEADER];
  return gIpmiCompletionCode != 0 ? IPMI_COMPLETION_ERROR : dataLength;
}

}  // namespace

int32_t IpmiSendCommand(uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength) {
  gIpmiCompletionCode = IPMI_NO_RESPONSE;
  if (dataLength > IPMI_REQUEST_MAX - IPMI_REQUEST_HEADER) return IPMI_TRANSFER_FAILED;
  gKcsRequest[0] = static_cast<uint8_t>(netFn << 2);
  gKcsRequest[1] = command;
  for (size_t i = 0; i < dataLength; ++i) gKcsRequest[IPMI_REQUEST_HEADER + i] = data[i];
  return Transact(IPMI_REQUEST_HEADER + dataLength);
}
