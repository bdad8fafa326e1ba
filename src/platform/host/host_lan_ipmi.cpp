#include "platform/host/host_lan_ipmi.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <freeipmi/freeipmi.h>

#include "platform/host/host_console.h"
#include "platform/host/host_device_parts.h"
#include "platform/host/host_lan_address.h"
#include "platform/host/host_resolve.h"
#include "platform/host/host_signals.h"

namespace {

// libfreeipmi gives up on a request after the session timeout, retransmitting
// meanwhile; a session that does not come up costs one session timeout.
constexpr unsigned LAN_SESSION_TIMEOUT_MS = 5000;
constexpr unsigned LAN_RETRANSMISSION_TIMEOUT_MS = 1000;
// It notices the timeout only at a retransmission: measured up to 1.5 s late.
constexpr unsigned LAN_TIMEOUT_OVERRUN_MS = 2000;
// A session squeezed into the end of the wait limit: the library wants its
// retransmission interval shorter than the session timeout.
constexpr unsigned LAN_SHORT_SESSION_TIMEOUT_MIN_MS = 1000;
constexpr unsigned LAN_SHORT_RETRANSMISSION_TIMEOUT_MS = 500;
// The command and the completion code come before the data of an answer.
constexpr size_t LAN_ANSWER_HEADER = 2;
// libfreeipmi carries messages of up to a kilobyte (its packets up to 4 KiB):
// a Read FRU Data count, one byte, is the bound.
constexpr uint16_t LAN_READ_MAX = 255;
constexpr const char* LAN_DEFAULT_PORT = "623";

struct Workaround {
  const char* name;  // as FreeIPMI's tools name it
  unsigned flag;
};
constexpr Workaround LAN_WORKAROUNDS[] = {
    {"authcap", IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_AUTHENTICATION_CAPABILITIES},
    {"intel20", IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_INTEL_2_0_SESSION},
    {"supermicro20", IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_SUPERMICRO_2_0_SESSION},
    {"sun20", IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_SUN_2_0_SESSION},
    {"opensesspriv", IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_OPEN_SESSION_PRIVILEGE},
    {"integritycheckvalue", IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_NON_EMPTY_INTEGRITY_CHECK_VALUE},
    {"nochecksumcheck", IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_NO_CHECKSUM_CHECK},
};

const char* Env(const char* name) {
  const char* value = getenv(name);
  return value == nullptr ? "" : value;
}

bool ReadWorkarounds(const std::string& text, unsigned* flags, std::string* error) {
  *flags = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t comma = text.find(',', start);
    const std::string name = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    bool known = false;
    for (const Workaround& w : LAN_WORKAROUNDS) {
      if (name == w.name) {
        *flags |= w.flag;
        known = true;
      }
    }
    if (!known) {
      *error = "[ERROR] TAGFORGE_LAN_WORKAROUNDS: unknown workaround \"" + name +
               "\" (authcap, intel20, supermicro20, sun20, opensesspriv, integritycheckvalue, nochecksumcheck)";
      return false;
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

// The cipher suites libfreeipmi can run (17 it cannot), and what each protects.
struct CipherSuite {
  uint8_t id;
  bool authentication;  // without it the BMC takes any password
  bool integrity;
  bool confidentiality;
};
constexpr CipherSuite LAN_CIPHER_SUITES[] = {
    {0, false, false, false}, {1, true, false, false}, {2, true, true, false},
    {3, true, true, true},    {6, true, false, false}, {7, true, true, false},
    {8, true, true, true},    {11, true, true, false}, {12, true, true, true},
};

const CipherSuite* FindCipherSuite(uint8_t id) {
  for (const CipherSuite& suite : LAN_CIPHER_SUITES) {
    if (suite.id == id) return &suite;
  }
  return nullptr;
}

// Whether the suite may run; otherwise what it lacks and what would allow it, in *error.
bool CipherSuiteAllowed(const std::string& text, bool cleartext, std::string* error) {
  const CipherSuite* suite = FindCipherSuite(static_cast<uint8_t>(std::stoi(text)));
  const std::string start = "[ERROR] TAGFORGE_LAN_CIPHER " + text;
  if (suite == nullptr) {
    *error = start + " is not a cipher suite this tagforge can run (3, 8, 12; 1, 2, 6, 7, 11 with "
                     "TAGFORGE_LAN_CLEARTEXT=1)";
    return false;
  }
  if (!suite->authentication) {
    *error = start + " has no authentication: the BMC would take any password; use 3, 8 or 12";
    return false;
  }
  if (suite->confidentiality || cleartext) return true;
  *error = start + (suite->integrity ? " has no confidentiality (the FRU data crosses the network readable)"
                                     : " has no integrity and no confidentiality (the FRU data crosses the network "
                                       "readable and alterable)") +
           "; set TAGFORGE_LAN_CLEARTEXT=1 to allow it";
  return false;
}

bool ReadCleartext(bool* cleartext, std::string* error) {
  const std::string text = Env("TAGFORGE_LAN_CLEARTEXT");
  *cleartext = text == "1";
  if (text.empty() || text == "0" || text == "1") return true;
  *error = "[ERROR] TAGFORGE_LAN_CLEARTEXT must be 0 or 1, not \"" + text + "\"";
  return false;
}

bool ReadCipherSuite(uint8_t* id, std::string* error) {
  bool cleartext = false;
  if (!ReadCleartext(&cleartext, error)) return false;
  const std::string cipher = Env("TAGFORGE_LAN_CIPHER");
  if (cipher.empty()) return true;
  if (cipher.size() > 2 || cipher.find_first_not_of("0123456789") != std::string::npos) {
    *error = "[ERROR] TAGFORGE_LAN_CIPHER must be a cipher suite ID (0 to 17), not \"" + cipher + "\"";
    return false;
  }
  if (!CipherSuiteAllowed(cipher, cleartext, error)) return false;
  *id = static_cast<uint8_t>(std::stoi(cipher));
  return true;
}

bool ReadUser(std::string* user, std::string* error) {
  *user = Env("TAGFORGE_LAN_USER");
  if (user->size() <= LAN_USER_MAX) return true;
  *error = "[ERROR] TAGFORGE_LAN_USER is longer than " + std::to_string(LAN_USER_MAX) +
           " bytes, the most an IPMI 2.0 session takes";
  return false;
}

// From the file when one is named, else from the environment; the
// environment's copy is zeroed either way.
bool ReadPassword(LanPassword* password, std::string* error) {
  const bool fromEnvironment = TakeLanPasswordFromEnvironment("TAGFORGE_LAN_PASSWORD", password, error);
  const std::string file = Env("TAGFORGE_LAN_PASSWORD_FILE");
  if (file.empty()) return fromEnvironment;
  return ReadLanPasswordFile(file, password, error);
}

bool ReadPrivilege(uint8_t* level, std::string* error) {
  const std::string privilege = Env("TAGFORGE_LAN_PRIVILEGE");
  if (privilege == "USER") *level = IPMI_PRIVILEGE_LEVEL_USER;
  else if (privilege == "OPERATOR") *level = IPMI_PRIVILEGE_LEVEL_OPERATOR;
  else if (privilege == "ADMIN" || privilege.empty()) *level = IPMI_PRIVILEGE_LEVEL_ADMIN;
  else {
    *error = "[ERROR] TAGFORGE_LAN_PRIVILEGE must be USER, OPERATOR or ADMIN, not \"" + privilege + "\"";
    return false;
  }
  return true;
}

// libfreeipmi takes an IPv6 address in brackets only with a port after it.
std::string LibraryHost(const std::string& host) {
  if (!host.empty() && host.front() == '[' && host.back() == ']') return host + ":" + LAN_DEFAULT_PORT;
  return host;
}

}  // namespace

// Why a session did not come up, in the station's words.
std::string LanSessionFailure(int errnum, const LanSettings& settings) {
  const std::string& host = settings.host;
  switch (errnum) {
    case IPMI_ERR_SESSION_TIMEOUT:
    case IPMI_ERR_CONNECTION_TIMEOUT:
      return "no answer from " + host + " with cipher suite " + std::to_string(settings.cipherSuite) +
             " (is it the BMC's address, is its LAN channel enabled, does it offer that cipher suite?)";
    case IPMI_ERR_USERNAME_INVALID:
    case IPMI_ERR_PASSWORD_INVALID:
    case IPMI_ERR_K_G_INVALID:
    case IPMI_ERR_PASSWORD_VERIFICATION_TIMEOUT:
      return "the BMC at " + host + " refused the user or the password";
    case IPMI_ERR_PRIVILEGE_LEVEL_INSUFFICIENT:
    case IPMI_ERR_PRIVILEGE_LEVEL_CANNOT_BE_OBTAINED:
      // Some BMCs (OpenIPMI's ipmi_sim among them) grant the privilege only
      // when it is asked for while the session opens, which libfreeipmi does
      // with this workaround.
      if ((settings.workarounds & IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_OPEN_SESSION_PRIVILEGE) == 0) {
        return "the BMC at " + host +
               " does not grant this user the privilege asked for (TAGFORGE_LAN_PRIVILEGE); if the user holds it, try "
               "TAGFORGE_LAN_WORKAROUNDS=opensesspriv";
      }
      return "the BMC at " + host + " does not grant this user the privilege asked for (TAGFORGE_LAN_PRIVILEGE)";
    case IPMI_ERR_CIPHER_SUITE_ID_UNAVAILABLE:
    case IPMI_ERR_AUTHENTICATION_TYPE_UNAVAILABLE:
      return "the BMC at " + host + " does not offer cipher suite " + std::to_string(settings.cipherSuite);
    case IPMI_ERR_HOSTNAME_INVALID:
      return "the BMC address " + host + " is not valid";
    // libfreeipmi's word for an Open Session answered "insufficient resources":
    // runs killed outright (SIGKILL, a cut cable) leave their sessions open.
    case IPMI_ERR_IPMI_ERROR:
    case IPMI_ERR_BMC_BUSY:
      return "no IPMI 2.0 session with " + host + ": " + ipmi_ctx_strerror(errnum) +
             " (the BMC may have no session free: those that killed runs left open end when it times them out; run "
             "again then)";
    default:
      return "no IPMI 2.0 session with " + host + ": " + ipmi_ctx_strerror(errnum);
  }
}

bool ReadLanSettings(const std::string& host, LanSettings* settings, std::string* error) {
  settings->host = host;
  return ReadPassword(&settings->password, error) && ReadUser(&settings->user, error) &&
         ReadCipherSuite(&settings->cipherSuite, error) && ReadPrivilege(&settings->privilege, error) &&
         ReadWorkarounds(Env("TAGFORGE_LAN_WORKAROUNDS"), &settings->workarounds, error);
}

LanSessionWait PlanLanSessionWait(std::chrono::milliseconds left) {
  const long long usable = left.count() - LAN_TIMEOUT_OVERRUN_MS;
  if (usable >= LAN_SESSION_TIMEOUT_MS) return {LAN_SESSION_TIMEOUT_MS, LAN_RETRANSMISSION_TIMEOUT_MS};
  if (usable >= LAN_SHORT_SESSION_TIMEOUT_MIN_MS) {
    return {static_cast<unsigned>(usable), LAN_SHORT_RETRANSMISSION_TIMEOUT_MS};
  }
  return {0, 0};
}

LanSessionWait LanWaitBudget::Begin() {
  // Time between answered requests is the operator's, not the BMC's silence.
  if (answering_) start_ = now_();
  return PlanLanSessionWait(
      std::chrono::duration_cast<std::chrono::milliseconds>(LAN_ANSWER_WAIT_LIMIT - (now_() - start_)));
}

LanIpmiTransport::LanIpmiTransport(LanSettings settings, LanClock now)
    : settings_(std::move(settings)), budget_(now), platform_(HostTransportOf(this, LAN_READ_MAX, false)) {}

LanIpmiTransport::~LanIpmiTransport() { Close(); }

PlatformFruAccess LanIpmiTransport::Access() { return HostBmcAccess(PlatformFruAccessKind::Transport, &platform_); }

void LanIpmiTransport::RestartWaits() {
  budget_.Restart();
  gaveUp_ = false;
}

void LanIpmiTransport::Close() {
  if (ctx_ == nullptr) return;
  ipmi_ctx_close(static_cast<ipmi_ctx_t>(ctx_));
  ipmi_ctx_destroy(static_cast<ipmi_ctx_t>(ctx_));
  ctx_ = nullptr;
}

// Between requests only: the library's state is whole there, and Close Session can go out.
void LanIpmiTransport::EndIfSignalled() {
  const int signal = HostPendingEndingSignal();
  if (signal == 0) return;
  Close();
  HostEndBySignal(signal);
}

void LanIpmiTransport::GiveUp() {
  Close();
  if (gaveUp_) return;
  gaveUp_ = true;
  HostFailureLine("tagforge: no answer from " + settings_.host + " within " +
                  std::to_string(LAN_ANSWER_WAIT_LIMIT.count()) + " s: giving up on it");
}

bool LanIpmiTransport::Open(const LanSessionWait& wait) {
  ipmi_ctx_t ctx = ipmi_ctx_create();
  if (ctx == nullptr) return false;
  if (ipmi_ctx_open_outofband_2_0(ctx, LibraryHost(settings_.host).c_str(), settings_.user.c_str(),
                                  settings_.password.Text(), nullptr, 0, settings_.privilege, settings_.cipherSuite,
                                  wait.sessionTimeoutMs, wait.retransmissionTimeoutMs, settings_.workarounds,
                                  IPMI_FLAGS_DEFAULT) < 0) {
    const int errnum = ipmi_ctx_errnum(ctx);
    ipmi_ctx_destroy(ctx);
    budget_.Unanswered();
    // The first session decides: a BMC that never let us in is not asked five times.
    if (!everOpened_) {
      refused_ = true;
      HostFailureLine("tagforge: " + LanSessionFailure(errnum, settings_));
    }
    return false;
  }
  ctx_ = ctx;
  // A run ended by a signal closes its session first: a BMC keeps an abandoned one until it times out.
  HostDeferEndingSignals();
  sessionTimeoutMs_ = wait.sessionTimeoutMs;
  everOpened_ = true;
  budget_.Answered();
  return true;
}

bool LanIpmiTransport::Ready() {
  if (refused_) return false;
  const LanSessionWait wait = budget_.Begin();
  // A request on the open session could outlast the limit: a shorter session may still fit.
  if (ctx_ != nullptr && wait.sessionTimeoutMs < sessionTimeoutMs_) Close();
  if (ctx_ != nullptr) return true;
  if (wait.sessionTimeoutMs == 0) {
    GiveUp();
    return false;
  }
  // A session lost in the middle of a run is opened again for the next attempt.
  return Open(wait);
}

PlatformIpmiAnswer LanIpmiTransport::Send(uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength) {
  uint8_t request[1 + 255];
  if (dataLength > sizeof(request) - 1) return HostNoAnswer();
  if (!Ready()) return HostNoAnswer();
  EndIfSignalled();
  request[0] = command;
  memcpy(request + 1, data, dataLength);
  // One byte more than an answer may hold, so that a longer one shows.
  uint8_t answer[LAN_ANSWER_HEADER + PLATFORM_IPMI_DATA_MAX + 1];
  const int length = ipmi_cmd_raw(static_cast<ipmi_ctx_t>(ctx_), 0, netFn, request,
                                  static_cast<unsigned>(1 + dataLength), answer, sizeof(answer));
  EndIfSignalled();
  if (length < static_cast<int>(LAN_ANSWER_HEADER)) {
    const int errnum = ipmi_ctx_errnum(static_cast<ipmi_ctx_t>(ctx_));
    if (errnum == IPMI_ERR_SESSION_TIMEOUT || errnum == IPMI_ERR_CONNECTION_TIMEOUT) {
      budget_.Unanswered();
      Close();
    }
    return HostNoAnswer();
  }
  budget_.Answered();
  // The library pairs an answer with its request by the session's and the
  // message's sequence numbers but checks neither the network function (the
  // raw answer does not show it) nor the command.
  if (answer[0] != command) return HostNoAnswer();
  return HostAnswerFrom(answer + 1, static_cast<size_t>(length) - 1);
}

namespace {

// HOST[:PORT] or [IPV6][:PORT] with the host as the address it resolves to,
// so that a name and its address (localhost, 127.0.0.1) are one BMC.
std::string ResolvedLanName(const std::string& hostAndPort) {
  std::string host = hostAndPort;
  std::string port;
  const size_t close = host.rfind(']');
  const size_t colon = host.rfind(':');
  if (colon != std::string::npos && (close == std::string::npos ? host.find(':') == colon : colon > close)) {
    port = host.substr(colon);
    host = host.substr(0, colon);
  }
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string address = ResolvedAddress(host);
  if (address.empty()) return hostAndPort;
  return (address.find(':') != std::string::npos ? "[" + address + "]" : address) + port;
}

}  // namespace

// TAGFORGE_BMC=lan:HOST, lan:HOST:PORT, lan:[IPV6] or lan:[IPV6]:PORT. The
// session itself opens with the first request, so that a BMC that cannot be
// reached ends the run with the tool's own message after the host's line.
bool HostOpenLan(const std::string& suffix, const HostRoots&, HostOpened* opened, std::string* error) {
  std::string host;
  if (!ReadLanAddress(suffix, &host, error)) return false;
  LanSettings settings;
  if (!ReadLanSettings(host, &settings, error)) return false;
  opened->name = "lan:" + ResolvedLanName(host);
  opened->device = std::make_unique<LanIpmiTransport>(std::move(settings));
  return true;
}
