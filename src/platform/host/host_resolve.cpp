#include "platform/host/host_resolve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

std::string ResolvedAddress(const std::string& name) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* all = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &all) != 0 || all == nullptr) return "";
  const addrinfo* found = all;
  for (const addrinfo* a = all; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET) {
      found = a;
      break;
    }
  }
  char text[INET6_ADDRSTRLEN] = "";
  const void* address = found->ai_family == AF_INET6
                            ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(found->ai_addr)->sin6_addr)
                            : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr);
  const bool named = inet_ntop(found->ai_family, address, text, sizeof(text)) != nullptr;
  freeaddrinfo(all);
  return named ? text : "";
}
