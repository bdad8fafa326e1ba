#include "platform/host/host_lan_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {

constexpr int LAN_DEFAULT_PORT = 623;

// ":PORT" to append to the host: empty for the default port.
bool ReadPort(const std::string& port, std::string* suffix, std::string* error) {
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(port) < 1 || std::stoi(port) > 65535) {
    *error = "[ERROR] TAGFORGE_BMC=lan:HOST:PORT needs a port from 1 to 65535, not \"" + port + "\"";
    return false;
  }
  const int number = std::stoi(port);
  *suffix = number == LAN_DEFAULT_PORT ? "" : ":" + std::to_string(number);
  return true;
}

// [IPV6] or [IPV6]:PORT.
bool ReadBracketed(const std::string& address, std::string* host, std::string* error) {
  const size_t close = address.find(']');
  const std::string rest = close == std::string::npos ? "" : address.substr(close + 1);
  if (close == std::string::npos || (!rest.empty() && rest[0] != ':')) {
    *error = "[ERROR] TAGFORGE_BMC=lan:[ADDRESS] needs an IPv6 address in brackets, then :PORT or nothing, not \"" +
             address + "\"";
    return false;
  }
  in6_addr binary{};
  char shortest[INET6_ADDRSTRLEN];
  const std::string inside = address.substr(1, close - 1);
  if (inet_pton(AF_INET6, inside.c_str(), &binary) != 1 ||
      inet_ntop(AF_INET6, &binary, shortest, sizeof(shortest)) == nullptr) {
    *error = "[ERROR] TAGFORGE_BMC=lan:[ADDRESS] needs an IPv6 address, not \"" + inside + "\"";
    return false;
  }
  std::string port;
  if (!rest.empty() && !ReadPort(rest.substr(1), &port, error)) return false;
  *host = "[" + std::string(shortest) + "]" + port;
  return true;
}

}  // namespace

bool ReadLanAddress(const std::string& address, std::string* host, std::string* error) {
  if (!address.empty() && address[0] == '[') return ReadBracketed(address, host, error);
  const size_t colon = address.rfind(':');
  if (colon != address.find(':')) {
    // Without brackets the port of an IPv6 address cannot be told from its last group.
    // So the line cannot tell either, and does not guess: it shows the form.
    *error = "[ERROR] TAGFORGE_BMC=lan:" + address + ": an IPv6 address goes in brackets: lan:[ADDRESS] or "
             "lan:[ADDRESS]:PORT";
    return false;
  }
  std::string port;
  if (colon != std::string::npos && !ReadPort(address.substr(colon + 1), &port, error)) return false;
  const std::string name = address.substr(0, colon);
  if (name.empty()) {
    *error = "[ERROR] TAGFORGE_BMC=lan:HOST needs the BMC's address";
    return false;
  }
  *host = name + port;
  return true;
}
