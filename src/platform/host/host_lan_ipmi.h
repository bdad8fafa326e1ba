// A BMC's network port as a message transport: an IPMI 2.0 RMCP+ session
// through libfreeipmi (session set-up, integrity, confidentiality and
// retransmission are the library's). Settings come from the environment.
// TAGFORGE_BMC=lan:HOST[:PORT], in builds with LAN only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/host/host_devices.h"
#include "platform/host/host_lan_password.h"
#include "platform/platform.h"

struct LanSettings {
  std::string host;  // as TAGFORGE_BMC named it: with ":PORT" when not 623, an IPv6 address in brackets
  std::string user;
  LanPassword password;  // never printed
  uint8_t cipherSuite = 3;
  uint8_t privilege = 4;  // ADMIN
  unsigned workarounds = 0;
};

// Reads TAGFORGE_LAN_* for the host given in TAGFORGE_BMC; false with the one
// line to print in *error (a password file others can read, a bad value, a
// cipher suite that would let the session be read or changed on the wire).
// TAGFORGE_LAN_PASSWORD is zeroed in the environment once read.
bool ReadLanSettings(const std::string& host, LanSettings* settings, std::string* error);

// The line that says why a session did not come up, from libfreeipmi's
// error number: what to check or set, never the password.
std::string LanSessionFailure(int errnum, const LanSettings& settings);

// A BMC that stops answering is given up on this long after its last answer
// (time spent between requests, waiting on the operator, does not count).
// Within the 30 s a station is promised, with room for the restore's own wait
// and the run around both to end within a minute.
constexpr std::chrono::seconds LAN_ANSWER_WAIT_LIMIT{25};

// The timeouts libfreeipmi is given for one session: both zero when nothing may start.
struct LanSessionWait {
  unsigned sessionTimeoutMs;
  unsigned retransmissionTimeoutMs;
};
// The session that fits into what is left of LAN_ANSWER_WAIT_LIMIT, its
// request ending before the limit even when the library notices late.
LanSessionWait PlanLanSessionWait(std::chrono::milliseconds left);

using LanClock = std::chrono::steady_clock::time_point (*)();

// How long the BMC has been silent, counted from the first request it left
// unanswered, and what that leaves for the next request.
class LanWaitBudget {
 public:
  explicit LanWaitBudget(LanClock now) : now_(now), start_(now()) {}
  // The session timeouts for a request starting now; zero when it could end past the limit.
  LanSessionWait Begin();
  void Answered() { answering_ = true; }
  void Unanswered() { answering_ = false; }
  void Restart() { start_ = now_(); }

 private:
  LanClock now_;
  std::chrono::steady_clock::time_point start_;
  bool answering_ = true;
};

class LanIpmiTransport : public HostDevice {
 public:
  explicit LanIpmiTransport(LanSettings settings, LanClock now = std::chrono::steady_clock::now);
  ~LanIpmiTransport() override;
  LanIpmiTransport(const LanIpmiTransport&) = delete;
  LanIpmiTransport& operator=(const LanIpmiTransport&) = delete;

  PlatformIpmiAnswer Send(uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength);
  // A fresh LAN_ANSWER_WAIT_LIMIT from now: the restore after a failed write
  // gets the same bound as the write, not what the write left of it.
  void RestartWaits() override;
  bool Remote() const override { return true; }
  PlatformFruAccess Access() override;

 private:
  bool Open(const LanSessionWait& wait);
  void Close();
  // Closes the session and ends the run when a signal asked for that before a write held them.
  void EndIfSignalled();
  // Opens a session when there is none and the wait limit leaves room for a
  // request; false when nothing may be sent.
  bool Ready();
  void GiveUp();

  LanSettings settings_;
  LanWaitBudget budget_;
  void* ctx_ = nullptr;        // ipmi_ctx_t
  unsigned sessionTimeoutMs_ = 0;  // of the open session
  bool refused_ = false;       // the first session could not be opened: said once, not tried again
  bool everOpened_ = false;
  bool gaveUp_ = false;        // said once per wait limit
  PlatformIpmiTransport platform_;
};
