// FreeIPMI's decoding of an image, as a peer that nobody here wrote: what
// `ipmi-fru --fru-file` prints for it (bounded to 30 s a run).
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

inline std::string DecodeWithIpmiFru(const std::vector<uint8_t>& image) {
  char path[] = "/tmp/tagforge-peer-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return "cannot create a temporary file";
  bool written = write(fd, image.data(), image.size()) == static_cast<ssize_t>(image.size());
  close(fd);
  std::string output;
  if (written) {
    std::string command = std::string("timeout 30 ipmi-fru --fru-file=") + path + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe != nullptr) {
      char buffer[512];
      size_t n;
      while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
      pclose(pipe);
    }
  }
  unlink(path);
  return output;
}

// Whether ipmi-fru reported an error: "FRU Error: ..." for the FRU, "FRU
// Board Info Area Error: ..." and the like for one area.
inline bool IpmiFruRejects(const std::string& decoded) { return decoded.find(" Error: ") != std::string::npos; }
