#include "bmc/fru_update.h"

#include "bmc/fru_storage.h"
#include "runtime/print.h"
#include "runtime/text.h"

namespace {

enum class Check { Same, Differs, Unreadable };

// Reads size bytes back; *at is the first offset that differs.
Check ReadBackAndCompare(int32_t fruId, const uint8_t* bytes, size_t size, uint8_t* readBack, size_t* at,
                         FruReadErrors errors) {
  if (!ReadFruImage(fruId, static_cast<uint16_t>(size), readBack, errors)) return Check::Unreadable;
  for (size_t i = 0; i < size; ++i) {
    if (readBack[i] != bytes[i]) {
      *at = i;
      return Check::Differs;
    }
  }
  return Check::Same;
}

// One write pass. *reached grows to the end of the farthest chunk any pass of
// the change has sent: a later pass that breaks off early does not make the
// bytes an earlier pass wrote any less changed.
bool WritePass(int32_t fruId, const uint8_t* bytes, size_t size, size_t* reached) {
  size_t sent = 0;
  bool written = WriteFruData(fruId, static_cast<int32_t>(size), bytes, &sent) != -1;
  if (sent > *reached) *reached = sent;
  return written;
}

// Puts back what the FRU held over every byte the change may have touched. It
// says the original is back only once all of it reads back equal; that is
// checked even when the restore's own write broke off, since a BMC that
// refused the new data may never have stored any of it.
void Restore(int32_t fruId, const uint8_t* original, size_t reached, uint8_t* readBack) {
  Print("Restore FRU data %d bytes\n", static_cast<int>(reached));
  size_t ignored = 0;
  size_t at = 0;
  WriteFruData(fruId, static_cast<int32_t>(reached), original, &ignored);
  if (ReadBackAndCompare(fruId, original, reached, readBack, &at, FruReadErrors::Print) == Check::Same) {
    Print("[ERROR] The write failed; the FRU holds its original data again\n");
  } else {
    Print("[ERROR] The write failed and the FRU could not be restored: it may hold part of the new data\n");
  }
}

}  // namespace

bool UpdateFruData(int32_t fruId, const uint8_t* bytes, size_t size, const uint8_t* original, uint8_t* readBack) {
  size_t reached = 0;
  for (int pass = 1; pass <= 2; ++pass) {
    if (!WritePass(fruId, bytes, size, &reached)) {
      if (reached > 0) Restore(fruId, original, reached, readBack);
      return false;
    }
    size_t at = 0;
    // The first read-back is quiet: a run that writes again and then succeeds shows no "[ERROR]".
    Check check =
        ReadBackAndCompare(fruId, bytes, size, readBack, &at, pass == 1 ? FruReadErrors::Quiet : FruReadErrors::Print);
    if (check == Check::Same) return true;
    if (pass == 1) {
      if (check == Check::Unreadable) Print("Verify FRU data: reading back failed; writing again\n");
      continue;
    }
    if (check == Check::Unreadable) {
      Print("[ERROR] Verify FRU data: the written data could not be read back\n");
    } else {
      Print("[ERROR] Verify FRU data: offset 0x%x reads 0x%02x, 0x%02x was written\n", static_cast<unsigned>(at),
            readBack[at], bytes[at]);
      Print("[ERROR] The FRU may now hold a mix of old and new data\n");
    }
  }
  return false;
}

bool ClearFruData(int32_t fruId, uint16_t size, const uint8_t* original, uint8_t* readBack, uint8_t* zeros) {
  Print("Clear FRU data...\n");
  FillBytes(zeros, 0, size);
  bool cleared = size > 0 && UpdateFruData(fruId, zeros, size, original, readBack);
  Print(cleared ? "done.\n" : "error.\n");
  return cleared;
}
