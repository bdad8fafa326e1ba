#include "platform/host/host_lan_ipmi.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <freeipmi/freeipmi.h>

namespace {

// A session that does not come up, or stops answering, is given up within
// these (milliseconds): an unreachable address costs one session timeout.
constexpr unsigned LAN_SESSION_TIMEOUT_MS = 5000;
constexpr unsigned LAN_RETRANSMISSION_TIMEOUT_MS = 1000;
constexpr size_t LAN_RESPONSE_MAX = 1024;

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

bool ReadPasswordFile(const std::string& path, std::string* password, std::string* error) {
  struct stat info{};
  if (stat(path.c_str(), &info) != 0) {
    *error = "[ERROR] TAGFORGE_LAN_PASSWORD_FILE " + path + " cannot be read: " + strerror(errno);
    return false;
  }
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    *error = "[ERROR] TAGFORGE_LAN_PASSWORD_FILE " + path +
             " can be read by other users; make it readable by its owner only (chmod 600)";
    return false;
  }
  std::ifstream in(path);
  if (!in) {
    *error = "[ERROR] TAGFORGE_LAN_PASSWORD_FILE " + path + " cannot be read";
    return false;
  }
  std::getline(in, *password);
  if (!password->empty() && password->back() == '\r') password->pop_back();
  return true;
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

bool SendThrough(void* context, uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength,
                 uint8_t* response, size_t capacity, size_t* responseLength) {
  return static_cast<LanIpmiTransport*>(context)->Send(netFn, command, data, dataLength, response, capacity,
                                                       responseLength);
}

// The cipher suites libfreeipmi can run (integrity and confidentiality algorithms it implements).
constexpr uint8_t LAN_CIPHER_SUITES[] = {0, 1, 2, 3, 6, 7, 8, 11, 12};

// Why a session did not come up, in the station's words.
std::string SessionFailure(int errnum, const LanSettings& settings) {
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
      return "the BMC at " + host + " does not grant this user the privilege asked for (TAGFORGE_LAN_PRIVILEGE)";
    case IPMI_ERR_CIPHER_SUITE_ID_UNAVAILABLE:
    case IPMI_ERR_AUTHENTICATION_TYPE_UNAVAILABLE:
      return "the BMC at " + host + " does not offer cipher suite " + std::to_string(settings.cipherSuite);
    case IPMI_ERR_HOSTNAME_INVALID:
      return "the BMC address " + host + " is not valid";
    default:
      return "no IPMI 2.0 session with " + host + ": " + ipmi_ctx_strerror(errnum);
  }
}

}  // namespace

bool ReadLanSettings(const std::string& host, LanSettings* settings, std::string* error) {
  settings->host = host;
  settings->user = Env("TAGFORGE_LAN_USER");
  const std::string passwordFile = Env("TAGFORGE_LAN_PASSWORD_FILE");
  if (!passwordFile.empty()) {
    if (!ReadPasswordFile(passwordFile, &settings->password, error)) return false;
  } else {
    settings->password = Env("TAGFORGE_LAN_PASSWORD");
  }
  const std::string cipher = Env("TAGFORGE_LAN_CIPHER");
  if (!cipher.empty()) {
    if (cipher.size() > 2 || cipher.find_first_not_of("0123456789") != std::string::npos) {
      *error = "[ERROR] TAGFORGE_LAN_CIPHER must be a cipher suite ID (0 to 17), not \"" + cipher + "\"";
      return false;
    }
    settings->cipherSuite = static_cast<uint8_t>(std::stoi(cipher));
    bool runnable = false;
    for (uint8_t id : LAN_CIPHER_SUITES) runnable = runnable || id == settings->cipherSuite;
    if (!runnable) {
      *error = "[ERROR] TAGFORGE_LAN_CIPHER " + cipher + " is not a cipher suite this tagforge can run (0, 1, 2, 3, 6, 7, "
               "8, 11, 12)";
      return false;
    }
  }
  const std::string privilege = Env("TAGFORGE_LAN_PRIVILEGE");
  if (privilege == "USER") settings->privilege = IPMI_PRIVILEGE_LEVEL_USER;
  else if (privilege == "OPERATOR") settings->privilege = IPMI_PRIVILEGE_LEVEL_OPERATOR;
  else if (privilege == "ADMIN" || privilege.empty()) settings->privilege = IPMI_PRIVILEGE_LEVEL_ADMIN;
  else {
    *error = "[ERROR] TAGFORGE_LAN_PRIVILEGE must be USER, OPERATOR or ADMIN, not \"" + privilege + "\"";
    return false;
  }
  return ReadWorkarounds(Env("TAGFORGE_LAN_WORKAROUNDS"), &settings->workarounds, error);
}

LanIpmiTransport::LanIpmiTransport(LanSettings settings) : settings_(std::move(settings)) {
  platform_ = PlatformIpmiTransport{SendThrough, this};
}

LanIpmiTransport::~LanIpmiTransport() { Close(); }

void LanIpmiTransport::Close() {
  if (ctx_ == nullptr) return;
  ipmi_ctx_close(static_cast<ipmi_ctx_t>(ctx_));
  ipmi_ctx_destroy(static_cast<ipmi_ctx_t>(ctx_));
  ctx_ = nullptr;
}

bool LanIpmiTransport::Open() {
  ipmi_ctx_t ctx = ipmi_ctx_create();
  if (ctx == nullptr) return false;
  if (ipmi_ctx_open_outofband_2_0(ctx, settings_.host.c_str(), settings_.user.c_str(), settings_.password.c_str(),
                                  nullptr, 0, settings_.privilege, settings_.cipherSuite, LAN_SESSION_TIMEOUT_MS,
                                  LAN_RETRANSMISSION_TIMEOUT_MS, settings_.workarounds, IPMI_FLAGS_DEFAULT) < 0) {
    const int errnum = ipmi_ctx_errnum(ctx);
    ipmi_ctx_destroy(ctx);
    // The first session decides: a BMC that never let us in is not asked five times.
    if (!everOpened_) {
      refused_ = true;
      fprintf(stderr, "tagforge: %s\n", SessionFailure(errnum, settings_).c_str());
    }
    return false;
  }
  ctx_ = ctx;
  everOpened_ = true;
  return true;
}

bool LanIpmiTransport::Send(uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength,
                            uint8_t* response, size_t capacity, size_t* responseLength) {
  *responseLength = 0;
  if (refused_) return false;
  // A session lost in the middle of a run is opened again for the next attempt.
  if (ctx_ == nullptr && !Open()) return false;
  uint8_t request[1 + 255];
  if (dataLength > sizeof(request) - 1) return false;
  request[0] = command;
  memcpy(request + 1, data, dataLength);
  uint8_t answer[LAN_RESPONSE_MAX];
  const int length = ipmi_cmd_raw(static_cast<ipmi_ctx_t>(ctx_), 0, netFn, request,
                                  static_cast<unsigned>(1 + dataLength), answer, sizeof(answer));
  // The answer is the command, the completion code, then the data.
  if (length < 2) {
    const int errnum = ipmi_ctx_errnum(static_cast<ipmi_ctx_t>(ctx_));
    if (errnum == IPMI_ERR_SESSION_TIMEOUT || errnum == IPMI_ERR_CONNECTION_TIMEOUT) Close();
    return false;
  }
  const size_t count = static_cast<size_t>(length) - 1;
  if (count > capacity) return false;
  memcpy(response, answer + 1, count);
  *responseLength = count;
  return true;
}
