#include "bmc/fru_update.h"

#include "bmc/fru_storage.h"
#include "runtime/print.h"
#include "runtime/text.h"

namespace {

uint8_t gReadBack[FRU_STORAGE_MAX];
uint8_t gZeroImage[FRU_STORAGE_MAX];

enum class Check { Same, Differs, Unreadable };

// Reads size bytes back; *at is the first offset that differs.
Check ReadBackAndCompare(int32_t fruId, const uint8_t* bytes, size_t size, size_t* at) {
  if (!ReadFruImage(fruId, static_cast<uint16_t>(size), gReadBack)) return Check::Unreadable;
  for (size_t i = 0; i < size; ++i) {
    if (gReadBack[i] != bytes[i]) {
      *at = i;
      return Check::Differs;
    }
  }
  return Check::Same;
}

bool WriteAndCompare(int32_t fruId, const uint8_t* bytes, size_t size, size_t* accepted, Check* check, size_t* at) {
  if (WriteFruData(fruId, static_cast<int32_t>(size), bytes, accepted) == -1) return false;
  *check = ReadBackAndCompare(fruId, bytes, size, at);
  return true;
}

// Puts back what the FRU held over the range a broken-off write reached.
void Restore(int32_t fruId, const uint8_t* original, size_t reached) {
  Print("Restore FRU data %d bytes\n", static_cast<int>(reached));
  size_t ignored = 0;
  size_t at = 0;
  Check check = Check::Unreadable;
  if (WriteAndCompare(fruId, original, reached, &ignored, &check, &at) && check == Check::Same) {
    Print("[ERROR] The write failed; the FRU holds its original data again\n");
  } else {
    Print("[ERROR] The write failed and the FRU could not be restored: it may hold part of the new data\n");
  }
}

}  // namespace

bool UpdateFruData(int32_t fruId, const uint8_t* bytes, size_t size, const uint8_t* original) {
  for (int pass = 1; pass <= 2; ++pass) {
    size_t accepted = 0;
    size_t at = 0;
    Check check = Check::Unreadable;
    if (!WriteAndCompare(fruId, bytes, size, &accepted, &check, &at)) {
      // The chunk that failed may have been stored in part: it is put back too.
      if (accepted > 0) Restore(fruId, original, accepted + FRU_CHUNK_MAX < size ? accepted + FRU_CHUNK_MAX : size);
      return false;
    }
    if (check == Check::Same) return true;
    if (pass == 2) {
      if (check == Check::Unreadable) {
        Print("[ERROR] Verify FRU data: the written data could not be read back\n");
      } else {
        Print("[ERROR] Verify FRU data: offset 0x%x reads 0x%02x, 0x%02x was written\n", static_cast<unsigned>(at),
              gReadBack[at], bytes[at]);
      }
    }
  }
  return false;
}

bool ClearFruData(int32_t fruId, uint16_t size, const uint8_t* original) {
  Print("Clear FRU data...\n");
  size_t count = size < FRU_STORAGE_MAX ? size : FRU_STORAGE_MAX;
  FillBytes(gZeroImage, 0, count);
  bool cleared = count > 0 && UpdateFruData(fruId, gZeroImage, count, original);
  Print(cleared ? "done.\n" : "error.\n");
  return cleared;
}
