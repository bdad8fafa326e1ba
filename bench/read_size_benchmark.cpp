// What growing reads save on a message transport where every request costs
// the same whatever its size: Linux's SSIF driver polls the SMBus, about 8 ms
// a request (measured in QEMU: 1 KiB in 511 ms at 16 bytes a read, 258 ms at
// 32, 125 ms at 64, 63 ms at 128). A listing and a three-field edit of a FRU,
// with 32-byte reads against reads that grow, on a model BMC that takes any
// read the transport carries, one that refuses reads above 64 bytes, and one
// that refuses reads above 33 bytes (OpenIPMI's simulator answers those with
// 0xC8). Time is counted, not measured: 8 ms a request plus the tool's 1 ms
// pause after each Write FRU Data chunk.
#include <cstdio>
#include <vector>

#include "bmc/fru_storage.h"
#include "bmc/fru_update.h"
#include "bmc/ipmi_fru_device.h"
#include "bmc/ipmi_request.h"
#include "platform/host/host_bmc.h"
#include "platform/host/host_console.h"
#include "platform/platform.h"

namespace {

constexpr double kRequestMs = 8.0;
constexpr double kWritePauseMs = 1.0;
constexpr uint8_t kCcCannotReturn = 0xC8;
constexpr size_t kTransportReadMax = 255;

struct ModelBmc {
  size_t readCap;  // the largest Read FRU Data count it answers; 0: whatever the transport carries
  std::vector<uint8_t> fru;
  unsigned requests = 0;
  unsigned refused = 0;
  unsigned writes = 0;
};

PlatformIpmiAnswer Answer(uint8_t code, const std::vector<uint8_t>& data) {
  PlatformIpmiAnswer answer{};
  answer.answered = true;
  answer.completionCode = code;
  answer.length = static_cast<uint16_t>(data.size());
  for (size_t i = 0; i < data.size(); ++i) answer.data[i] = data[i];
  return answer;
}

PlatformIpmiAnswer Send(void* context, uint8_t netFn, uint8_t command, const uint8_t* data, size_t length) {
  ModelBmc& bmc = *static_cast<ModelBmc*>(context);
  ++bmc.requests;
  if (netFn == IPMI_NETFN_APP && command == IPMI_CMD_GET_DEVICE_ID) {
    return Answer(0, {0x20, 0x01, 0x01, 0x25, 0x02, 0x1F, 0xD9, 0x7E, 0x00, 0x34, 0x12});
  }
  if (netFn == IPMI_NETFN_APP && command == IPMI_CMD_GET_DEVICE_GUID) return Answer(0, std::vector<uint8_t>(16, 7));
  const size_t offset = length >= 3 ? static_cast<size_t>(data[1] | data[2] << 8) : 0;
  if (command == IPMI_CMD_GET_FRU_INVENTORY_AREA_INFO) {
    return Answer(0, {static_cast<uint8_t>(bmc.fru.size()), static_cast<uint8_t>(bmc.fru.size() >> 8), 0});
  }
  if (command == IPMI_CMD_READ_FRU_DATA && length == 4) {
    const size_t count = data[3];
    if (bmc.readCap != 0 && count > bmc.readCap) {
      ++bmc.refused;
      return Answer(kCcCannotReturn, {});
    }
    const size_t given = offset + count > bmc.fru.size() ? bmc.fru.size() - offset : count;
    PlatformIpmiAnswer answer = Answer(0, {static_cast<uint8_t>(given)});
    for (size_t i = 0; i < given; ++i) answer.data[1 + i] = bmc.fru[offset + i];
    answer.length = static_cast<uint16_t>(1 + given);
    return answer;
  }
  if (command == IPMI_CMD_WRITE_FRU_DATA && length > 3) {
    ++bmc.writes;
    for (size_t i = 3; i < length; ++i) bmc.fru[offset + i - 3] = data[i];
    return Answer(0, {static_cast<uint8_t>(length - 3)});
  }
  return Answer(0xC1, {});
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + 5);
  return bytes;
}

struct Cost {
  unsigned requests;
  unsigned refused;
  double ms;
};

// A listing (identity, size, the whole image), or that and an edit of three
// fields in three chunks, written, read back and checked.
Cost Run(size_t readCap, size_t inventory, FruReadSizes sizes, bool edit) {
  ModelBmc bmc{readCap, Pattern(inventory)};
  const PlatformIpmiTransport transport{Send, &bmc, static_cast<uint16_t>(kTransportReadMax), false};
  IpmiFruDevice ipmi{};
  OpenIpmiFruDevice(&ipmi, &transport);
  FruDevice device{&ipmi.device, false, false, false};
  std::vector<uint8_t> image(inventory);
  std::vector<uint8_t> readBack(inventory);
  uint16_t size = 0;
  bool ok = IdentifyFruDevice(device, nullptr) && GetFruInventorySize(device, 0, &size) &&
            ReadFruImage(device, 0, size, image.data(), FruReadErrors::Print, sizes) && image == bmc.fru;
  if (ok && edit) {
    std::vector<uint8_t> changed = image;
    for (size_t at : {size_t{0x58}, size_t{0x70}, inventory / 2}) changed[at] ^= 0x5A;
    static FruTouched touched;
    ok = UpdateFruData(device, 0, changed.data(), inventory, image.data(), readBack.data(), &touched) ==
             FruWriteOutcome::Written &&
         bmc.fru == changed;
  }
  if (!ok) {
    fprintf(stderr, "read_size_benchmark: a run failed (cap %zu, %zu bytes)\n", readCap, inventory);
    return Cost{0, 0, -1};
  }
  return Cost{bmc.requests, bmc.refused, bmc.requests * kRequestMs + bmc.writes * kWritePauseMs};
}

}  // namespace

int main() {
  std::string console;
  HostConsoleCapture(&console);  // the tool's lines are not the table
  struct Model {
    const char* name;
    size_t cap;
  };
  const Model models[] = {{"no cap", 0}, {"cap 64", 64}, {"cap 33", 33}};
  std::vector<std::string> rows;
  char line[200];
  snprintf(line, sizeof(line), "%-7s %-7s %5s | %-24s | %-24s | %5s\n", "model", "case", "bytes",
           "32-byte reads", "growing reads", "ratio");
  rows.push_back(line);
  snprintf(line, sizeof(line), "%-21s | %9s %5s %8s | %9s %5s %8s |\n", "", "requests", "refus", "ms", "requests",
           "refus", "ms");
  rows.push_back(line);
  int status = 0;
  for (const Model& model : models) {
    for (size_t inventory : {size_t{1024}, size_t{2048}, size_t{4096}}) {
      for (bool edit : {false, true}) {
        const Cost fixed = Run(model.cap, inventory, FruReadSizes::Fixed, edit);
        const Cost growing = Run(model.cap, inventory, FruReadSizes::Growing, edit);
        if (fixed.ms < 0 || growing.ms < 0) status = 1;
        snprintf(line, sizeof(line), "%-7s %-7s %5zu | %9u %5u %8.0f | %9u %5u %8.0f | %5.2f\n", model.name,
                 edit ? "edit" : "listing", inventory, fixed.requests, fixed.refused, fixed.ms, growing.requests,
                 growing.refused, growing.ms, growing.ms / fixed.ms);
        rows.push_back(line);
      }
    }
  }
  HostConsoleCapture(nullptr);
  printf("Requests (of them refused) and counted time at %.0f ms a request, %.0f ms after each write chunk:\n",
         kRequestMs, kWritePauseMs);
  for (const std::string& row : rows) fputs(row.c_str(), stdout);
  return status;
}
