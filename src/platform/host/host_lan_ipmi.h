// A BMC's network port as a message transport: an IPMI 2.0 RMCP+ session
// through libfreeipmi (session set-up, integrity, confidentiality and
// retransmission are the library's). Settings come from the environment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

struct LanSettings {
  std::string host;  // with ":PORT" when not 623
  std::string user;
  std::string password;  // never printed
  uint8_t cipherSuite = 3;
  uint8_t privilege = 4;  // ADMIN
  unsigned workarounds = 0;
};

// Reads TAGFORGE_LAN_* for the host given in TAGFORGE_BMC; false with the one
// line to print in *error (a password file others can read, a bad value).
bool ReadLanSettings(const std::string& host, LanSettings* settings, std::string* error);

class LanIpmiTransport {
 public:
  explicit LanIpmiTransport(LanSettings settings);
  ~LanIpmiTransport();
  LanIpmiTransport(const LanIpmiTransport&) = delete;
  LanIpmiTransport& operator=(const LanIpmiTransport&) = delete;

  bool Send(uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength, uint8_t* response,
            size_t capacity, size_t* responseLength);
  const PlatformIpmiTransport* Platform() const { return &platform_; }
  void RestartWaits() {}

 private:
  bool Open();
  void Close();

  LanSettings settings_;
  void* ctx_ = nullptr;        // ipmi_ctx_t
  bool refused_ = false;       // the first session could not be opened: said once, not tried again
  bool everOpened_ = false;
  PlatformIpmiTransport platform_{};
};
