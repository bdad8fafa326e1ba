// A UDP relay on 127.0.0.1 in front of a server on a loopback port: it
// forwards datagrams both ways until the client has sent a given number, then
// drops everything, as a BMC does that loses power or its cable in the middle
// of a run. It counts what the client sent, so that a test can also show
// that nothing was sent at all. Stopped, its thread joined, on destruction.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <thread>

class UdpRelay {
 public:
  explicit UdpRelay(int serverPort, size_t forwarded = std::numeric_limits<size_t>::max())
      : limit_(forwarded) {
    client_ = socket(AF_INET, SOCK_DGRAM, 0);
    server_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = Loopback(0);
    bind(client_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    getsockname(client_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    sockaddr_in target = Loopback(serverPort);
    connect(server_, reinterpret_cast<sockaddr*>(&target), sizeof(target));
    thread_ = std::thread([this] { Relay(); });
  }
  ~UdpRelay() {
    stop_ = true;
    thread_.join();
    close(client_);
    close(server_);
  }
  UdpRelay(const UdpRelay&) = delete;
  UdpRelay& operator=(const UdpRelay&) = delete;

  int Port() const { return port_; }
  // Datagrams the client sent, forwarded or not.
  size_t FromClient() const { return fromClient_; }
  // The BMC is back: everything is forwarded again, on the same port.
  void ForwardAgain() { limit_ = std::numeric_limits<size_t>::max(); }

 private:
  static constexpr int POLL_MS = 50;  // how soon the destructor is heard

  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
  }

  bool Silent() const { return fromClient_ > limit_; }

  void Relay() {
    uint8_t datagram[2048];
    sockaddr_in peer{};
    pollfd fds[2] = {{client_, POLLIN, 0}, {server_, POLLIN, 0}};
    while (!stop_) {
      if (poll(fds, 2, POLL_MS) <= 0) continue;
      if ((fds[0].revents & POLLIN) != 0) {
        socklen_t length = sizeof(peer);
        const ssize_t n = recvfrom(client_, datagram, sizeof(datagram), 0, reinterpret_cast<sockaddr*>(&peer), &length);
        ++fromClient_;
        if (n >= 0 && !Silent()) send(server_, datagram, static_cast<size_t>(n), 0);
      }
      if ((fds[1].revents & (POLLIN | POLLERR)) != 0) {
        const ssize_t n = recv(server_, datagram, sizeof(datagram), 0);
        if (n >= 0 && !Silent()) sendto(client_, datagram, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&peer), sizeof(peer));
      }
    }
  }

  std::atomic<size_t> limit_;
  int client_ = -1;
  int server_ = -1;
  int port_ = 0;
  std::atomic<size_t> fromClient_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
