#include "platform/host/host_kernel_ipmi.h"

#include <fcntl.h>
#include <linux/ipmi.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

int RealOpen(const char* path, int flags) { return ::open(path, flags); }
int RealIoctl(int fd, unsigned long request, void* argument) { return ::ioctl(fd, request, argument); }
int RealPoll(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs);
}
int RealClose(int fd) { return ::close(fd); }

const KernelIpmiCalls kRealCalls{RealOpen, RealIoctl, RealPoll, RealClose};

// An answer holds at most this much: completion code and data.
constexpr size_t KERNEL_IPMI_MESSAGE_MAX = 1024;

bool SendThrough(void* context, uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength,
                 uint8_t* response, size_t capacity, size_t* responseLength) {
  return static_cast<KernelIpmiTransport*>(context)->Send(netFn, command, data, dataLength, response, capacity,
                                                          responseLength);
}

}  // namespace

const KernelIpmiCalls& RealKernelIpmiCalls() { return kRealCalls; }

KernelIpmiTransport::~KernelIpmiTransport() {
  if (fd_ >= 0) calls_.close(fd_);
}

bool KernelIpmiTransport::Open(const std::string& node, std::string* error) {
  fd_ = calls_.open(node.c_str(), O_RDWR);
  if (fd_ < 0) {
    *error = "cannot open " + node + ": " + strerror(errno);
    return false;
  }
  platform_ = PlatformIpmiTransport{SendThrough, this};
  return true;
}

bool KernelIpmiTransport::Send(uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength,
                               uint8_t* response, size_t capacity, size_t* responseLength) {
  *responseLength = 0;
  ipmi_system_interface_addr address{};
  address.addr_type = IPMI_SYSTEM_INTERFACE_ADDR_TYPE;
  address.channel = IPMI_BMC_CHANNEL;
  ipmi_req request{};
  request.addr = reinterpret_cast<unsigned char*>(&address);
  request.addr_len = sizeof(address);
  request.msgid = nextMsgid_++;
  request.msg.netfn = netFn;
  request.msg.cmd = command;
  request.msg.data = const_cast<unsigned char*>(data);
  request.msg.data_len = static_cast<unsigned short>(dataLength);
  if (calls_.ioctl(fd_, IPMICTL_SEND_COMMAND, &request) < 0) return false;
  return Receive(request.msgid, response, capacity, responseLength);
}

// Waits, within one bounded wait, for the answer with this message ID; other
// messages (a late answer to an earlier request, an event) are read and dropped.
bool KernelIpmiTransport::Receive(long msgid, uint8_t* response, size_t capacity, size_t* responseLength) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(KERNEL_IPMI_WAIT_MS);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    const int ready = calls_.poll(fd_, static_cast<int>(left));
    // A signal held during a write (the operator's Ctrl-C) cuts the wait short, not the answer.
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    uint8_t message[KERNEL_IPMI_MESSAGE_MAX];
    ipmi_addr from{};
    ipmi_recv received{};
    received.addr = reinterpret_cast<unsigned char*>(&from);
    received.addr_len = sizeof(from);
    received.msg.data = message;
    received.msg.data_len = sizeof(message);
    const bool cut = calls_.ioctl(fd_, IPMICTL_RECEIVE_MSG_TRUNC, &received) < 0;
    if (cut && errno != EMSGSIZE) return false;
    if (received.recv_type != IPMI_RESPONSE_RECV_TYPE || received.msgid != msgid) continue;
    // A truncated answer, or one without a completion code, is no answer.
    if (cut || received.msg.data_len == 0 || received.msg.data_len > capacity) return false;
    memcpy(response, message, received.msg.data_len);
    *responseLength = received.msg.data_len;
    return true;
  }
}
