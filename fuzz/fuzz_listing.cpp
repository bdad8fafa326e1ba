// Listing an arbitrary image: lookup, display and dump never read outside it.
#include <vector>

#include "fru/fru_display.h"
#include "fru/fru_format.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > FRU_IMAGE_MAX + 1) return 0;
  std::string console;
  FreshRun(console);
  gVerbose = data[0] & 1;
  // Exactly the bytes given, so that the sanitizer sees any read past them.
  std::vector<uint8_t> image(data + 1, data + size);
  if (image.size() < FRU_HEADER_SIZE) image.resize(FRU_HEADER_SIZE);
  DumpHex(image.data(), image.size());
  ShowFru(image.data(), image.size(), gFieldCatalogue.rows, FIELD_COUNT);
  HostConsoleCapture(nullptr);
  return 0;
}
