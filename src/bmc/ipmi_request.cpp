#include "bmc/ipmi_request.h"

namespace {

constexpr size_t IPMI_REQUEST_MAX = 255;

}  // namespace

IpmiAnswer IpmiSendCommand(const PlatformIpmiTransport& transport, uint8_t netFn, uint8_t command,
                           const uint8_t* data, size_t dataLength) {
  if (dataLength > IPMI_REQUEST_MAX - IPMI_REQUEST_HEADER) {
    IpmiAnswer none;
    none.answered = false;
    none.completionCode = PLATFORM_IPMI_NO_ANSWER;
    none.length = 0;
    return none;
  }
  IpmiAnswer answer = transport.Send(transport.context, netFn, command, data, dataLength);
  // Whatever a transport says, an answer never claims more bytes than it holds.
  if (answer.length > PLATFORM_IPMI_DATA_MAX) answer.answered = false;
  if (!answer.answered) {
    answer.completionCode = PLATFORM_IPMI_NO_ANSWER;
    answer.length = 0;
  }
  return answer;
}
