// How long a listing and a one-field edit take against the simulated BMC, on
// its virtual clock, next to the least time its latency model allows, under
// the fixed 5 ms poll of the first releases and under the backoff schedule.
//
// Latency models (virtual microseconds), from what server BMCs do: a BMC's
// KCS interrupt handler takes or gives a byte within a few microseconds
// (2 to 3 measured on server BMCs) and at worst a few tens; composing an
// answer takes one to a few milliseconds; one I/O port access costs about a
// microsecond.
//   realistic: each byte 2 to 20 us, each answer 1000 to 5000 us (drawn
//              evenly, fixed seed), 1 us per port access
//   steady:    each byte 20 us, each answer 1000 us, 1 us per port access
//
// Lower bound: the BMC's own delays (every byte it took, every answer), one
// port access for every write, every data read and one status read per byte
// handed over, and the tool's 1000 us pause after every Write FRU Data chunk,
// which a BMC may rely on.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bmc/kcs_wait.h"
#include "platform/host/host_bmc.h"
#include "platform/host/host_console.h"
#include "platform/platform.h"
#include "simulated_bmc.h"

namespace {

constexpr uint64_t kWritePauseUs = 1000;

struct Model {
  const char* name;
  const char* latency;
};

struct Outcome {
  int status;
  uint64_t virtualUs;
  uint64_t lowerBoundUs;
  sim::Stats stats;
};

// The sample FRU with a MultiRecord Area that fills the inventory, so that
// an edit rewrites every byte: a whole read and a whole write.
std::vector<uint8_t> FullFru(size_t inventory) {
  std::vector<uint8_t> fru = sim::SampleFruImage();
  const size_t multiRecord = fru[5] * 8u;
  fru.resize(multiRecord);
  while (fru.size() < inventory) {
    size_t left = inventory - fru.size() - 5;
    size_t length = std::min<size_t>(left, 250);
    bool last = left == length;
    std::vector<uint8_t> data(length, 0x5A);
    uint8_t dataSum = 0;
    for (uint8_t b : data) dataSum = static_cast<uint8_t>(dataSum + b);
    uint8_t header[5] = {0xC0, static_cast<uint8_t>(last ? 0x82 : 0x02), static_cast<uint8_t>(length),
                         static_cast<uint8_t>(-dataSum), 0};
    header[4] = static_cast<uint8_t>(-(header[0] + header[1] + header[2] + header[3]));
    fru.insert(fru.end(), header, header + 5);
    fru.insert(fru.end(), data.begin(), data.end());
  }
  return fru;
}

Outcome Run(const Model& model, std::vector<std::string> args, size_t inventory) {
  sim::Latency latency;
  sim::Faults faults;
  std::string error;
  sim::ParseLatency(model.latency, &latency, &error);
  sim::Identity identity{TAGFORGE_MANUFACTURER_ID};
  auto bmc = std::make_unique<sim::SimulatedBmc>(latency, faults, identity);
  bmc->UseImage(FullFru(inventory));
  HostUseSimulatedBmc(bmc.get());

  std::string console;
  HostConsoleCapture(&console);
  args.insert(args.begin(), "tagforge");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  int status = TagforgeMain(static_cast<int>(argv.size()), argv.data());
  HostConsoleCapture(nullptr);

  const sim::Stats& s = bmc->Counters();
  uint64_t writeChunks = args.size() > 2 ? (inventory + 31) / 32 : 0;
  uint64_t minimumAccesses = s.portWrites + s.dataReads + bmc->BytesTaken();
  Outcome outcome{status, bmc->NowUs(),
                  bmc->ForcedUs() + minimumAccesses * latency.portAccessUs + writeChunks * kWritePauseUs, s};
  HostUseSimulatedBmc(nullptr);
  if (bmc->Violations().count != 0) {
    fprintf(stderr, "kcs_benchmark: the host broke the KCS protocol %llu times, first: %s\n",
            static_cast<unsigned long long>(bmc->Violations().count), bmc->Violations().first.c_str());
    exit(1);
  }
  return outcome;
}

}  // namespace

int main() {
  const Model models[] = {
      {"realistic", "ibf=2-20,response=1000-5000,port=1"},
      {"steady", "ibf=20,response=1000,port=1"},
  };
  const std::pair<const char*, KcsWaitSchedule> schedules[] = {
      {"fixed", KcsWaitSchedule::FixedPoll},
      {"backoff", KcsWaitSchedule::Backoff},
  };
  printf("%-9s %-7s %5s %-7s %11s %9s %6s %12s %7s %13s\n", "model", "case", "bytes", "waits", "virtual ms",
         "bound ms", "ratio", "status reads", "stalls", "port accesses");
  for (const Model& model : models) {
    for (size_t inventory : {256u, 1024u, 2048u, 4096u}) {
      const std::pair<const char*, std::vector<std::string>> cases[] = {
          {"listing", {"ID=0"}},
          {"edit", {"ID=0", "BSN=EXB2403150043"}},  // as long as the sample's serial: the image keeps its size
      };
      for (const auto& [name, args] : cases) {
        for (const auto& [scheduleName, schedule] : schedules) {
          gKcsWaitSchedule = schedule;
          Outcome o = Run(model, args, inventory);
          if (o.status != 0) {
            printf("%s %s %zu failed with status %d\n", model.name, name, inventory, o.status);
            return 1;
          }
          printf("%-9s %-7s %5zu %-7s %11.1f %9.1f %6.2f %12llu %7llu %13llu\n", model.name, name, inventory,
                 scheduleName, o.virtualUs / 1000.0, o.lowerBoundUs / 1000.0,
                 static_cast<double>(o.virtualUs) / static_cast<double>(o.lowerBoundUs),
                 static_cast<unsigned long long>(o.stats.statusReads), static_cast<unsigned long long>(o.stats.stalls),
                 static_cast<unsigned long long>(o.stats.PortAccesses()));
        }
      }
    }
  }
  gKcsWaitSchedule = KcsWaitSchedule::Backoff;
  return 0;
}
