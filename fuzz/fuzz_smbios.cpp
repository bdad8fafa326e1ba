// The SMBIOS walk over arbitrary tables: it never reads outside the table
// bytes, whatever the lengths, counts and strings say, and a name it returns
// lies whole inside them.
#include <vector>

#include "fields/smbios.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  SmbiosEntryPoint entry{2, 8, 0, static_cast<uint32_t>(size - 2), 0, static_cast<uint32_t>(data[0] | data[1] << 8),
                         false};
  std::vector<uint8_t> table(data + 2, data + size);  // exactly these bytes
  SmbiosTable view{table.data(), table.size()};
  const char* name = FindSmbiosBoardName(entry, view);
  if (name != nullptr) {
    size_t length = 0;
    if (SmbiosStringLength(view, name, &length)) {
      volatile char last = name[length];
      (void)last;
    }
  }
  return 0;
}
