#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "fru_test_support.h"

std::string DecodeWithIpmiFru(const Bytes& image) {
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
