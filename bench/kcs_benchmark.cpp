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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/driver.h"
#include "bmc/fru_update.h"
#include "bmc/kcs_wait.h"
#include "fru/fru_lint.h"
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

// The sample FRU with a MultiRecord Area that fills the inventory but for
// slack bytes of zeros, so that an edit reads every byte. Its data bytes vary,
// as real records do: moved by a few bytes, every stretch of it differs.
std::vector<uint8_t> FullFru(size_t inventory, size_t slack = 0) {
  std::vector<uint8_t> fru = sim::SampleFruImage();
  const size_t multiRecord = fru[5] * 8u;
  fru.resize(multiRecord);
  while (fru.size() < inventory - slack) {
    size_t left = inventory - slack - fru.size() - 5;
    size_t length = std::min<size_t>(left, 250);
    bool last = left == length;
    std::vector<uint8_t> data(length);
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(0x5A + 7 * (fru.size() + i));
    uint8_t dataSum = 0;
    for (uint8_t b : data) dataSum = static_cast<uint8_t>(dataSum + b);
    uint8_t header[5] = {0xC0, static_cast<uint8_t>(last ? 0x82 : 0x02), static_cast<uint8_t>(length),
                         static_cast<uint8_t>(-dataSum), 0};
    header[4] = static_cast<uint8_t>(-(header[0] + header[1] + header[2] + header[3]));
    fru.insert(fru.end(), header, header + 5);
    fru.insert(fru.end(), data.begin(), data.end());
  }
  fru.resize(inventory, 0x00);
  return fru;
}

Outcome Run(const Model& model, std::vector<std::string> args, size_t inventory, const RunOptions& options) {
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
  int status = TagforgeRun(static_cast<int>(argv.size()), argv.data(), options);
  HostConsoleCapture(nullptr);

  const sim::Stats& s = bmc->Counters();
  const bool writes = args.size() > 2 && args[1] != "--verify";
  uint64_t writeChunks = writes ? (inventory + 31) / 32 : 0;
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

// What a line-typical run cost: its Write FRU Data requests and bytes, the
// Read FRU Data requests after the first write (the read-back), its time.
struct LineOutcome {
  int status;
  uint64_t virtualUs;
  uint64_t writes = 0;
  uint64_t bytesWritten = 0;
  uint64_t readBacks = 0;
};

LineOutcome RunLine(const Model& model, std::vector<std::string> args, const std::vector<uint8_t>& fru,
                    const RunOptions& options, const char* faultText = "") {
  sim::Latency latency;
  sim::Faults faults;
  sim::Identity identity{TAGFORGE_MANUFACTURER_ID};
  std::string error;
  sim::ParseLatency(model.latency, &latency, &error);
  sim::ParseFaults(faultText, &faults, &identity, &error);
  auto bmc = std::make_unique<sim::SimulatedBmc>(latency, faults, identity);
  bmc->UseImage(fru);
  LineOutcome outcome{};
  sim::SimulatedBmc* raw = bmc.get();
  bmc->OverrideHandler([raw, &outcome](const std::vector<uint8_t>& request) {
    if (request.size() > 5 && request[1] == 0x12) {
      ++outcome.writes;
      outcome.bytesWritten += request.size() - 5;
    }
    if (request.size() == 6 && request[1] == 0x11 && outcome.writes > 0) ++outcome.readBacks;
    return raw->Core().Handle(request);
  });
  HostUseSimulatedBmc(raw);
  std::string console;
  HostConsoleCapture(&console);
  args.insert(args.begin(), "tagforge");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  outcome.status = TagforgeRun(static_cast<int>(argv.size()), argv.data(), options);
  HostConsoleCapture(nullptr);
  HostUseSimulatedBmc(nullptr);
  outcome.virtualUs = raw->NowUs();
  return outcome;
}

// Line-typical edits on a 2048-byte FRU, each under both write schedules.
int LineTypicalCases(const Model& model) {
  std::vector<uint8_t> mostlyZero = sim::SampleFruImage();
  mostlyZero.resize(2048, 0x00);
  struct LineCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<uint8_t> fru;
  };
  const LineCase cases[] = {
      {"(a) three same-length fields", {"ID=0", "BSN=EXB2403150099", "PSN=EXS2404020099", "BDT=2025/6/7"},
       FullFru(2048, 64)},
      {"(b) a field 9 bytes longer", {"ID=0", "BSN=EXB2403150042-LONGER1"}, FullFru(2048, 64)},
      {"(c) clear, mostly zero", {"ID=0", "ClearFru=1"}, mostlyZero},
  };
  printf("\nLine-typical runs on 2048 bytes, %s model:\n", model.name);
  printf("%-30s %-8s %8s %8s %10s %11s %6s\n", "case", "schedule", "writes", "bytes", "read-backs", "virtual ms",
         "ratio");
  for (const LineCase& c : cases) {
    RunOptions wholeImage;
    wholeImage.write.schedule = FruWriteSchedule::WholeImage;
    const LineOutcome whole = RunLine(model, c.args, c.fru, wholeImage);
    const LineOutcome changed = RunLine(model, c.args, c.fru, RunOptions{});
    if (whole.status != 0 || changed.status != 0) {
      printf("%s failed with status %d / %d\n", c.name, whole.status, changed.status);
      return 1;
    }
    const std::pair<const char*, const LineOutcome*> rows[] = {{"whole", &whole}, {"changed", &changed}};
    for (const auto& [schedule, o] : rows) {
      printf("%-30s %-8s %8llu %8llu %10llu %11.1f %6.2f\n", c.name, schedule,
             static_cast<unsigned long long>(o->writes), static_cast<unsigned long long>(o->bytesWritten),
             static_cast<unsigned long long>(o->readBacks), o->virtualUs / 1000.0,
             static_cast<double>(o->virtualUs) / static_cast<double>(whole.virtualUs));
    }
  }
  return 0;
}

// A whole edit on a BMC that stores at once and on one that stores later (its
// wait for the store: the old image for 1 s, no FRU for 200 ms), on a FRU that
// uses all of its 2048 bytes (such a BMC reports the used size).
int StoreLaterCost(const Model& model) {
  const std::vector<uint8_t> fru = FullFru(2048);
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"board serial", {"ID=0", "BSN=EXB2403150099"}},
      {"product serial", {"ID=0", "PSN=EXS2404020099"}},
  };
  printf("\nWhole edits on 2048 bytes, %s model:\n", model.name);
  printf("%-16s %-12s %8s %10s %11s\n", "case", "bmc", "writes", "reads", "virtual ms");
  for (const auto& [name, args] : cases) {
    for (const char* faults : {"", "store-later"}) {
      const LineOutcome o = RunLine(model, args, fru, RunOptions{}, faults);
      if (o.status != 0) {
        printf("%s on %s failed with status %d\n", name, faults, o.status);
        return 1;
      }
      printf("%-16s %-12s %8llu %10llu %11.1f\n", name, *faults == '\0' ? "at once" : faults,
             static_cast<unsigned long long>(o.writes), static_cast<unsigned long long>(o.readBacks),
             o.virtualUs / 1000.0);
    }
  }
  return 0;
}

}  // namespace

// What the lint that every listing and every edit runs costs on a full 4 KiB
// FRU, in host time per lint, next to a listing's time on the BMC's virtual
// clock (the listing's own time is nearly all waiting on the BMC).
int LintCost(const Model& model) {
  const std::vector<uint8_t> fru = FullFru(4096);
  constexpr int kLints = 20000;
  FruLintReport report;
  const auto start = std::chrono::steady_clock::now();
  int errors = 0;
  for (int i = 0; i < kLints; ++i) {
    LintFru(fru.data(), fru.size(), &report);
    errors += report.errorCount;
  }
  const double lintUs =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / kLints;
  const Outcome listing = Run(model, {"ID=0"}, 4096, RunOptions{});
  printf("\nLint of a 4096-byte FRU (%d findings, %d errors): %.2f us host time per lint, %d lints timed\n",
         report.count, errors / kLints, lintUs, kLints);
  printf("Listing of it, %s model: %.1f virtual ms; the lint is %.4f%% of it\n", model.name,
         listing.virtualUs / 1000.0, 100.0 * lintUs / static_cast<double>(listing.virtualUs));
  return listing.status;
}

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
          // The same read as a listing, then a comparison: it should cost what a listing does.
          {"verify", {"--verify", "ID=0", "BSN=EXB2403150042"}},
      };
      for (const auto& [name, args] : cases) {
        for (const auto& [scheduleName, schedule] : schedules) {
          // The poll comparison writes whole images, as its lower bound assumes.
          RunOptions options;
          options.access.kcsWaits = schedule;
          options.write.schedule = FruWriteSchedule::WholeImage;
          Outcome o = Run(model, args, inventory, options);
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
  if (LintCost(models[0]) != 0 || LintCost(models[1]) != 0) return 1;
  if (LineTypicalCases(models[0]) != 0) return 1;
  return StoreLaterCost(models[0]);
}
