// What the host's devices share: an IPMI transport whose Send is a member
// function, the answer of a failed transfer, an answer read from the bytes a
// driver or a library hands back, and the access of a BMC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

// No answer, a cut one, or one to another request.
inline PlatformIpmiAnswer HostNoAnswer() {
  PlatformIpmiAnswer answer{};
  answer.answered = false;
  answer.completionCode = PLATFORM_IPMI_NO_ANSWER;
  return answer;
}

// The completion code then the data, as a driver hands them back; without a
// completion code, or with more data than an answer holds, it is no answer.
inline PlatformIpmiAnswer HostAnswerFrom(const uint8_t* bytes, size_t length) {
  if (length == 0 || length - 1 > PLATFORM_IPMI_DATA_MAX) return HostNoAnswer();
  PlatformIpmiAnswer answer{};
  answer.answered = true;
  answer.completionCode = bytes[0];
  answer.length = static_cast<uint16_t>(length - 1);
  memcpy(answer.data, bytes + 1, length - 1);
  return answer;
}

// TAGFORGE_FIXED_READS=1 keeps 32-byte reads on a transport that could carry
// more: for the tests and benchmarks that compare the two, not for a line.
inline uint16_t HostReadGrowthMax(uint16_t transportMax) {
  const char* fixed = getenv("TAGFORGE_FIXED_READS");
  return fixed != nullptr && strcmp(fixed, "1") == 0 ? 0 : transportMax;
}

// The transport of an object with PlatformIpmiAnswer Send(netFn, command, data, dataLength).
template <class Owner>
PlatformIpmiTransport HostTransportOf(Owner* owner, uint16_t readGrowthMax, bool noAnswerMeansTooLong) {
  return PlatformIpmiTransport{
      [](void* context, uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength) {
        return static_cast<Owner*>(context)->Send(netFn, command, data, dataLength);
      },
      owner, HostReadGrowthMax(readGrowthMax), noAnswerMeansTooLong};
}

// A BMC guards its own FRU: nothing is refused before it is asked.
inline const char* HostRefuseNothing(void*, bool) { return nullptr; }
inline PlatformFruAccess HostBmcAccess(PlatformFruAccessKind kind, const PlatformIpmiTransport* transport) {
  return PlatformFruAccess{kind, transport, nullptr, HostRefuseNothing, nullptr};
}
