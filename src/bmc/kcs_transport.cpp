#include "bmc/kcs_transport.h"

namespace {

// Request bytes before the data: network function (shifted) and command.
constexpr size_t KCS_MESSAGE_REQUEST_HEADER = 2;
// Response bytes before the completion code: network function and command.
constexpr size_t KCS_MESSAGE_RESPONSE_HEADER = 2;
constexpr size_t KCS_RESPONSE_NETFN = 0;
constexpr size_t KCS_RESPONSE_COMMAND = 1;
constexpr uint8_t KCS_NETFN_SHIFT = 2;
constexpr uint8_t IPMI_NETFN_RESPONSE_BIT = 1;

PlatformIpmiAnswer NoAnswer() {
  PlatformIpmiAnswer answer;
  answer.answered = false;
  answer.completionCode = PLATFORM_IPMI_NO_ANSWER;
  answer.length = 0;
  return answer;
}

// The answer names the request it belongs to: a stale answer to an earlier
// request (a BMC that was slow, a reset in between) must not be taken for this one.
bool AnswersRequest(const KcsInterface& kcs, uint8_t netFn, uint8_t command) {
  return kcs.response[KCS_RESPONSE_NETFN] >> KCS_NETFN_SHIFT == (netFn | IPMI_NETFN_RESPONSE_BIT) &&
         kcs.response[KCS_RESPONSE_COMMAND] == command;
}

PlatformIpmiAnswer Send(void* context, uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength) {
  KcsInterface& kcs = static_cast<KcsTransport*>(context)->kcs;
  PlatformIpmiAnswer answer = NoAnswer();
  if (KCS_MESSAGE_REQUEST_HEADER + dataLength > KCS_BUFFER_SIZE) return answer;
  kcs.request[0] = static_cast<uint8_t>(netFn << KCS_NETFN_SHIFT);
  kcs.request[1] = command;
  for (size_t i = 0; i < dataLength; ++i) kcs.request[KCS_MESSAGE_REQUEST_HEADER + i] = data[i];
  if (KcsWriteRequest(kcs, KCS_MESSAGE_REQUEST_HEADER + dataLength) != KCS_OK) return answer;
  if (KcsReadResponse(kcs) != KCS_OK) return answer;
  // A reply without a completion code is no answer at all; nor is one longer than an answer holds.
  const size_t length = static_cast<size_t>(kcs.responseLength);
  if (length <= KCS_MESSAGE_RESPONSE_HEADER || length - KCS_MESSAGE_RESPONSE_HEADER - 1 > PLATFORM_IPMI_DATA_MAX) {
    return answer;
  }
  if (!AnswersRequest(kcs, netFn, command)) return answer;
  answer.answered = true;
  answer.completionCode = kcs.response[KCS_MESSAGE_RESPONSE_HEADER];
  answer.length = static_cast<uint16_t>(length - KCS_MESSAGE_RESPONSE_HEADER - 1);
  for (size_t i = 0; i < answer.length; ++i) answer.data[i] = kcs.response[KCS_MESSAGE_RESPONSE_HEADER + 1 + i];
  return answer;
}

}  // namespace

void OpenKcsTransport(KcsTransport* kcs, KcsWaitSchedule waits) {
  kcs->kcs.responseLength = 0;
  kcs->kcs.waits = waits;
  kcs->transport = PlatformIpmiTransport{Send, kcs, 0, false};
}
