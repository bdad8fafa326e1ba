// The Linux kernel's IPMI driver as a message transport: requests through
// IPMICTL_SEND_COMMAND on its device node, answers matched by message ID,
// network function and command. TAGFORGE_BMC=kernel or kernel:N.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/host/host_devices.h"
#include "platform/platform.h"

// The system calls the transport makes, so that tests can stand in for a device.
struct KernelIpmiCalls {
  int (*open)(const char* path, int flags);
  int (*ioctl)(int fd, unsigned long request, void* argument);
  int (*poll)(int fd, int timeoutMs);  // > 0 readable, 0 timed out, < 0 error
  int (*close)(int fd);
};
const KernelIpmiCalls& RealKernelIpmiCalls();

// How long one request waits for its answer, as a KCS wait does.
constexpr int KERNEL_IPMI_WAIT_MS = 5000;

class KernelIpmiTransport : public HostDevice {
 public:
  explicit KernelIpmiTransport(const KernelIpmiCalls& calls = RealKernelIpmiCalls());
  ~KernelIpmiTransport() override;
  KernelIpmiTransport(const KernelIpmiTransport&) = delete;
  KernelIpmiTransport& operator=(const KernelIpmiTransport&) = delete;

  // Opens the node; false, with the cause in *error, when it cannot.
  bool Open(const std::string& node, std::string* error);
  PlatformIpmiAnswer Send(uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength);
  const PlatformIpmiTransport* Platform() const { return &platform_; }
  PlatformFruAccess Access() override;

 private:
  PlatformIpmiAnswer Receive(long msgid, uint8_t netFn, uint8_t command);

  const KernelIpmiCalls& calls_;
  int fd_ = -1;
  long nextMsgid_ = 1;
  PlatformIpmiTransport platform_;
};
