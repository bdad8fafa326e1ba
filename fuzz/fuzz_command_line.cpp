// The command line, a parameter file and scanner input, through the whole
// driver against the simulated BMC (in memory, no delays). Input: the
// arguments, the file and the typed text, separated by the byte 0x01; the
// arguments split at zero bytes.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "platform/host/host_bmc.h"
#include "platform/platform.h"
#include "simulated_bmc.h"

namespace {

std::string gVolume;

void Prepare() {
  if (!gVolume.empty()) return;
  gVolume = (std::filesystem::temp_directory_path() / ("tagforge-fuzz-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(gVolume);
  std::atexit([] { std::filesystem::remove_all(gVolume); });
  setenv("TAGFORGE_VOLUME", gVolume.c_str(), 1);
  setenv("TAGFORGE_SMBIOS", (gVolume + "/no-smbios").c_str(), 1);
  setenv("TAGFORGE_NOW", "2024-05-06T07:08", 1);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  Prepare();
  std::vector<std::string> parts = Split(std::string(reinterpret_cast<const char*>(data), size), '\x01');
  parts.resize(3);
  std::ofstream(gVolume + "/p.txt", std::ios::binary | std::ios::trunc) << parts[1];

  sim::Latency latency{0, 0, 0};
  sim::Faults faults;
  sim::SimulatedBmc bmc(latency, faults, sim::Identity{TAGFORGE_MANUFACTURER_ID});
  bmc.UseImage(sim::SampleFruImage());
  HostUseSimulatedBmc(&bmc);

  std::vector<std::string> args = Split(parts[0], '\0');
  args.insert(args.begin(), "tagforge");
  if (args.size() > 64) args.resize(64);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::string console;
  FreshRun(console);
  HostConsoleSetInput(&parts[2]);
  TagforgeMain(static_cast<int>(args.size()), argv.data());
  HostConsoleSetInput(nullptr);
  HostConsoleCapture(nullptr);
  HostUseSimulatedBmc(nullptr);
  FUZZ_REQUIRE(bmc.Violations().count == 0);  // the host kept to the KCS protocol
  return 0;
}
