#include "bmc/ipmi_request.h"

#include "bmc/kcs_transport.h"
#include "platform/platform.h"

uint8_t gIpmiCompletionCode = 0xFF;

namespace {

constexpr size_t IPMI_REQUEST_MAX = 255;
constexpr uint8_t IPMI_NO_RESPONSE = 0xFF;
// The completion code and the data of the last answer.
constexpr size_t IPMI_RESPONSE_MAX = 512;
uint8_t gResponse[IPMI_RESPONSE_MAX];

// Located on the first request and kept for the run; none means the KCS
// interface at the CPU I/O ports.
const PlatformIpmiTransport* gTransport = nullptr;
bool gTransportLocated = false;
bool gAnswered = false;

bool Transact(uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength, size_t* responseLength) {
  if (!gTransportLocated) {
    if (PlatformIsError(PlatformLocateIpmiTransport(&gTransport))) gTransport = nullptr;
    gTransportLocated = true;
  }
  if (gTransport == nullptr) {
    return KcsTransact(netFn, command, data, dataLength, gResponse, sizeof(gResponse), responseLength);
  }
  return gTransport->Send(gTransport->context, netFn, command, data, dataLength, gResponse, sizeof(gResponse),
                          responseLength);
}

}  // namespace

int32_t IpmiSendCommand(uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength) {
  gIpmiCompletionCode = IPMI_NO_RESPONSE;
  if (dataLength > IPMI_REQUEST_MAX - IPMI_REQUEST_HEADER) return IPMI_TRANSFER_FAILED;
  size_t length = 0;
  gAnswered = Transact(netFn, command, data, dataLength, &length) && length > 0;
  if (!gAnswered) return IPMI_TRANSFER_FAILED;
  gIpmiCompletionCode = gResponse[0];
  return gIpmiCompletionCode != 0 ? IPMI_COMPLETION_ERROR : static_cast<int32_t>(length - 1);
}

const uint8_t* IpmiResponseData() { return gResponse + 1; }

bool IpmiBmcAnswered() { return gAnswered; }

void ResetIpmiTransport() {
  gTransport = nullptr;
  gTransportLocated = false;
}
