#include "platform/host/host_kernel_ipmi.h"

#include <fcntl.h>
#include <linux/ipmi.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/host/host_bmc_choice.h"
#include "platform/host/host_device_parts.h"

namespace {

int RealOpen(const char* path, int flags) { return ::open(path, flags); }
int RealIoctl(int fd, unsigned long request, void* argument) { return ::ioctl(fd, request, argument); }
int RealPoll(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs);
}
int RealClose(int fd) { return ::close(fd); }

const KernelIpmiCalls kRealCalls{RealOpen, RealIoctl, RealPoll, RealClose};

// The completion code and the most data an answer may hold: anything longer
// comes back cut (EMSGSIZE) and is no answer.
constexpr size_t KERNEL_IPMI_ANSWER_MAX = 1 + PLATFORM_IPMI_DATA_MAX;
// The driver carries IPMI_MAX_MSG_LENGTH bytes of an answer, its completion
// code included; a Read FRU Data answer spends one more on its count, and the
// count itself is one byte.
constexpr uint16_t KERNEL_IPMI_READ_MAX = std::min(IPMI_MAX_MSG_LENGTH - 2, 255);
// A network function's answer has the lowest bit set.
constexpr uint8_t KERNEL_IPMI_RESPONSE_BIT = 0x01;

bool ReadInterface(const std::string& text, int* n) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *n = std::stoi(text);
  return true;
}

}  // namespace

const KernelIpmiCalls& RealKernelIpmiCalls() { return kRealCalls; }

KernelIpmiTransport::KernelIpmiTransport(const KernelIpmiCalls& calls)
    : calls_(calls), platform_(HostTransportOf(this, KERNEL_IPMI_READ_MAX, true)) {}

KernelIpmiTransport::~KernelIpmiTransport() {
  if (fd_ >= 0) calls_.close(fd_);
}

bool KernelIpmiTransport::Open(const std::string& node, std::string* error) {
  fd_ = calls_.open(node.c_str(), O_RDWR);
  if (fd_ < 0) {
    *error = "cannot open " + node + ": " + strerror(errno);
    return false;
  }
  return true;
}

PlatformFruAccess KernelIpmiTransport::Access() { return HostBmcAccess(PlatformFruAccessKind::Transport, &platform_); }

PlatformIpmiAnswer KernelIpmiTransport::Send(uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength) {
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
  if (calls_.ioctl(fd_, IPMICTL_SEND_COMMAND, &request) < 0) return HostNoAnswer();
  return Receive(request.msgid, netFn, command);
}

// Waits, within one bounded wait, for the answer with this message ID; other
// messages (a late answer to an earlier request, an event) are read and dropped.
PlatformIpmiAnswer KernelIpmiTransport::Receive(long msgid, uint8_t netFn, uint8_t command) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(KERNEL_IPMI_WAIT_MS);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return HostNoAnswer();
    const int ready = calls_.poll(fd_, static_cast<int>(left));
    // A signal held during a write (the operator's Ctrl-C) cuts the wait short, not the answer.
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return HostNoAnswer();
    uint8_t message[KERNEL_IPMI_ANSWER_MAX];
    ipmi_addr from{};
    ipmi_recv received{};
    received.addr = reinterpret_cast<unsigned char*>(&from);
    received.addr_len = sizeof(from);
    received.msg.data = message;
    received.msg.data_len = sizeof(message);
    const bool cut = calls_.ioctl(fd_, IPMICTL_RECEIVE_MSG_TRUNC, &received) < 0;
    if (cut && errno != EMSGSIZE) return HostNoAnswer();
    if (received.recv_type != IPMI_RESPONSE_RECV_TYPE || received.msgid != msgid) continue;
    // The driver's own answer to a request it gave up on carries the request's
    // network function and command too: another pair is a BMC out of step.
    if (cut || received.msg.netfn != (netFn | KERNEL_IPMI_RESPONSE_BIT) || received.msg.cmd != command) {
      return HostNoAnswer();
    }
    return HostAnswerFrom(message, received.msg.data_len);
  }
}

// TAGFORGE_BMC=kernel or kernel:N: the driver's node of interface N (0 when not given).
bool HostOpenKernel(const std::string& suffix, const HostRoots& roots, HostOpened* opened, std::string* error) {
  int n = 0;
  if (!suffix.empty() && !(suffix[0] == ':' && ReadInterface(suffix.substr(1), &n))) return false;
  const std::string node = KernelIpmiNode(roots, n);
  if (node.empty()) {
    const std::vector<std::string> nodes = KernelIpmiNodes(roots, n);
    *error = "[ERROR] No device node of the kernel's IPMI driver (" + nodes[0] + ", " + nodes[1] + ", " + nodes[2] +
             "): load it with modprobe ipmi_si ipmi_devintf";
    return false;
  }
  auto kernel = std::make_unique<KernelIpmiTransport>();
  if (!kernel->Open(node, error)) {
    *error = "tagforge: the kernel's IPMI driver: " + *error;
    return false;
  }
  opened->device = std::move(kernel);
  opened->name = "kernel:" + node;
  return true;
}
