#include "bmc/kcs_transport.h"

#include "bmc/kcs_transfer.h"

namespace {

// Request bytes before the data: network function (shifted) and command.
constexpr size_t KCS_MESSAGE_REQUEST_HEADER = 2;
// Response bytes before the completion code: network function and command.
constexpr size_t KCS_MESSAGE_RESPONSE_HEADER = 2;

}  // namespace

bool KcsTransact(uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength, uint8_t* response,
                 size_t capacity, size_t* responseLength) {
  *responseLength = 0;
  if (KCS_MESSAGE_REQUEST_HEADER + dataLength > KCS_BUFFER_SIZE) return false;
  gKcsRequest[0] = static_cast<uint8_t>(netFn << 2);
  gKcsRequest[1] = command;
  for (size_t i = 0; i < dataLength; ++i) gKcsRequest[KCS_MESSAGE_REQUEST_HEADER + i] = data[i];
  if (KcsWriteRequest(KCS_MESSAGE_REQUEST_HEADER + dataLength) != KCS_OK) return false;
  if (KcsReadResponse() != KCS_OK) return false;
  // A reply without a completion code is no answer at all.
  if (gKcsResponseLength <= static_cast<int32_t>(KCS_MESSAGE_RESPONSE_HEADER)) return false;
  size_t length = static_cast<size_t>(gKcsResponseLength) - KCS_MESSAGE_RESPONSE_HEADER;
  if (length > capacity) length = capacity;
  for (size_t i = 0; i < length; ++i) response[i] = gKcsResponse[KCS_MESSAGE_RESPONSE_HEADER + i];
  *responseLength = length;
  return true;
}
