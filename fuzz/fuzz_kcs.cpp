// The KCS transfer and the IPMI requests against a BMC whose status bytes,
// data bytes and so completion codes all come from the fuzzer. Every wait
// stays bounded and no buffer is passed; the stalls cost nothing here.
#include <vector>

#include "bmc/fru_access.h"
#include "bmc/fru_storage.h"
#include "bmc/fru_update.h"
#include "fru/fru_format.h"
#include "fuzz_support.h"
#include "platform/host/host_bmc.h"
#include "platform/platform.h"

namespace {

const uint8_t* gInput = nullptr;
size_t gLeft = 0;

// When the fuzzer's bytes run out the interface reads as absent.
PlatformStatus ReadPort(void*, uint16_t, uint8_t* value) {
  if (gLeft == 0) {
    *value = 0xFF;
    return PLATFORM_SUCCESS;
  }
  *value = *gInput++;
  --gLeft;
  return PLATFORM_SUCCESS;
}

PlatformStatus WritePort(void*, uint16_t, uint8_t) { return PLATFORM_SUCCESS; }

const PlatformCpuIo gPorts{ReadPort, WritePort, nullptr};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::string console;
  FreshRun(console);
  HostUsePorts(&gPorts);
  gVerbose = data[0] & 1;
  gInput = data + 1;
  gLeft = size - 1;
  static std::vector<uint8_t> image(FRU_IMAGE_MAX);
  static std::vector<uint8_t> original(FRU_IMAGE_MAX);
  static std::vector<uint8_t> readBack(FRU_IMAGE_MAX);
  static std::vector<uint8_t> zeros(FRU_IMAGE_MAX);
  static FruTouched touched;
  static FruAccess access;
  OpenFruAccess(&access);
  FruDevice& device = access.device;
  uint16_t inventory = 0;
  if (IdentifyFruDevice(device, nullptr) && GetFruInventorySize(device, 0, &inventory) && inventory <= FRU_IMAGE_MAX &&
      ReadFruImage(device, 0, inventory, image.data())) {
    if (data[0] & 2) {
      ClearFruData(device, 0, inventory, original.data(), readBack.data(), zeros.data(), &touched);
    } else if (inventory > 0) {
      UpdateFruData(device, 0, image.data(), inventory, original.data(), readBack.data(), &touched);
    }
  }
  HostConsoleCapture(nullptr);
  return 0;
}
