// OpenIPMI's ipmi_sim for the tests: on loopback ports of its own, serving
// IPMI 2.0 LAN (user "admin", password "secret") and a KCS link for QEMU's
// ipmi-bmc-extern, keeping its FRU in fru.bin of the given folder (writes
// reach the file), and when asked a second FRU device, ID 1, in fru1.bin.
// Stopped on destruction; its life is bounded in any case.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline int FreePort(int type) {
  int fd = socket(AF_INET, type, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  socklen_t length = sizeof(address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

class IpmiSim {
 public:
  // address: where the LAN port listens (127.0.0.1, or ::1 for IPv6); secondFruSize: a FRU device 1 of
  // that size in fru1.bin when not 0.
  IpmiSim(const std::filesystem::path& dir, size_t fruSize, int lifeSeconds, const std::string& password = "secret",
          const std::string& address = "127.0.0.1", size_t secondFruSize = 0)
      : dir_(dir) {
    kcsPort_ = FreePort(SOCK_STREAM);
    lanPort_ = FreePort(SOCK_DGRAM);
    std::ofstream(dir / "lan.conf") << "name \"tagforge\"\nset_working_mc 0x20\n  startlan 1\n    addr " << address
                                    << " " << lanPort_ << "\n    priv_limit admin\n"
                                    << "    allowed_auths_admin none md5\n"
                                    << "    guid a123456789abcdefa123456789abcdef\n  endlan\n  serial kcs 127.0.0.1 "
                                    << kcsPort_ << " codec VM\nuser 2 true \"admin\" \"" << password << "\" admin 10 none md5\n";
    std::ofstream(dir / "bmc.emu") << "mc_setbmc 0x20\nmc_add 0x20 0 no-device-sdrs 0x23 1 0x25 0x9f 0x7ED9 0xf02\n"
                                   << "mc_add_fru_data 0x20 0 " << fruSize << " file 0 \"" << (dir / "fru.bin").string()
                                   << "\"\n";
    if (secondFruSize != 0) {
      std::ofstream(dir / "bmc.emu", std::ios::app)
          << "mc_add_fru_data 0x20 1 " << secondFruSize << " file 0 \"" << (dir / "fru1.bin").string() << "\"\n";
    }
    std::ofstream(dir / "bmc.emu", std::ios::app) << "mc_enable 0x20\n";
    Start(lifeSeconds);
  }
  ~IpmiSim() { Stop(); }

  void Start(int lifeSeconds) {
    const std::string command = "cd " + dir_.string() + " && (timeout " + std::to_string(lifeSeconds) +
                                " ipmi_sim -c lan.conf -f bmc.emu -n -s state >> sim.log 2>&1 & echo $! > sim.pid)";
    if (std::system(command.c_str()) != 0) return;
    for (int i = 0; i < 100 && !Listening(); ++i) usleep(50000);  // at most 5 s
  }
  void Stop() {
    const std::string command = "kill $(cat " + (dir_ / "sim.pid").string() + ") 2>/dev/null; sleep 0.2";
    if (std::system(command.c_str()) != 0) return;
  }
  int KcsPort() const { return kcsPort_; }
  int LanPort() const { return lanPort_; }

 private:
  // Read from /proc/net/tcp: a probe connection would end the simulator,
  // which serves one KCS connection and then exits.
  bool Listening() const {
    char local[32];
    snprintf(local, sizeof(local), "0100007F:%04X", kcsPort_);
    std::ifstream table("/proc/net/tcp");
    for (std::string line; std::getline(table, line);) {
      std::istringstream fields(line);
      std::string slot, address, remote, state;
      fields >> slot >> address >> remote >> state;
      if (address == local && state == "0A") return true;
    }
    return false;
  }

  std::filesystem::path dir_;
  int kcsPort_ = 0;
  int lanPort_ = 0;
};
