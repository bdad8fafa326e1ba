#include "fields/smbios.h"

#include "platform/platform.h"
#include "runtime/text.h"

namespace {

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint64_t Read64(const uint8_t* p) { return static_cast<uint64_t>(Read32(p)) | static_cast<uint64_t>(Read32(p + 4)) << 32; }

bool HasAnchor(const uint8_t* bytes, size_t length, const char* anchor, size_t anchorSize, size_t minimum) {
  return bytes != nullptr && length >= minimum && CompareBytes(bytes, anchor, anchorSize) == 0;
}

bool FindSmbios2EntryPoint(SmbiosEntryPoint* entry) {
  const uint8_t* bytes = nullptr;
  size_t length = 0;
  if (PlatformIsError(PlatformGetSmbiosEntryPoint(&bytes, &length)) ||
      !HasAnchor(bytes, length, SMBIOS_2_ANCHOR, SMBIOS_ANCHOR_SIZE, SMBIOS_ENTRY_MIN_SIZE)) {
    return false;
  }
  *entry = SmbiosEntryPoint{bytes[SMBIOS_ENTRY_MAJOR], bytes[SMBIOS_ENTRY_MINOR], bytes[SMBIOS_ENTRY_REVISION],
                            Read16(bytes + SMBIOS_ENTRY_TABLE_LENGTH), Read32(bytes + SMBIOS_ENTRY_TABLE_ADDRESS),
                            Read16(bytes + SMBIOS_ENTRY_STRUCTURE_COUNT), false};
  return true;
}

// A 3.x table has no structure count: a structure takes at least its header
// and the two NULs of an empty string set, which bounds how many fit.
bool FindSmbios3EntryPoint(SmbiosEntryPoint* entry) {
  constexpr uint32_t SMALLEST_STRUCTURE = SMBIOS_STRUCTURE_HEADER_SIZE + 2;
  const uint8_t* bytes = nullptr;
  size_t length = 0;
  if (PlatformIsError(PlatformGetSmbios3EntryPoint(&bytes, &length)) ||
      !HasAnchor(bytes, length, SMBIOS_3_ANCHOR, SMBIOS_3_ANCHOR_SIZE, SMBIOS_3_ENTRY_MIN_SIZE)) {
    return false;
  }
  const uint32_t maxSize = Read32(bytes + SMBIOS_3_ENTRY_TABLE_MAX_SIZE);
  *entry = SmbiosEntryPoint{bytes[SMBIOS_3_ENTRY_MAJOR], bytes[SMBIOS_3_ENTRY_MINOR], bytes[SMBIOS_3_ENTRY_REVISION],
                            maxSize, Read64(bytes + SMBIOS_3_ENTRY_TABLE_ADDRESS), maxSize / SMALLEST_STRUCTURE, true};
  return true;
}

// A structure whose header lies whole inside the table and whose formatted
// area is at least a header long.
bool HasHeader(const SmbiosTable& table, size_t at) {
  return at < table.size && table.size - at >= SMBIOS_STRUCTURE_HEADER_SIZE &&
         table.bytes[at + SMBIOS_STRUCTURE_LENGTH] >= SMBIOS_STRUCTURE_HEADER_SIZE;
}

}  // namespace

// A 2.x entry point, when the firmware offers one, stays the one used.
bool FindSmbiosEntryPoint(SmbiosEntryPoint* entry) { return FindSmbios2EntryPoint(entry) || FindSmbios3EntryPoint(entry); }

const char* GetSmbiosStringByNumber(const SmbiosTable& table, size_t* cursor, uint16_t n) {
  if (!HasHeader(table, *cursor)) {
    *cursor = table.size;
    return nullptr;
  }
  const size_t first = *cursor + table.bytes[*cursor + SMBIOS_STRUCTURE_LENGTH];
  size_t p = first;
  for (uint16_t number = 1; p < table.size; ++number) {
    size_t nul = p;
    while (nul < table.size && table.bytes[nul] != 0) ++nul;
    if (nul == table.size) break;  // the table ends inside the string
    // The set ends at a NUL followed by a second one; an empty string before
    // other strings is still string number one.
    const bool setEnds = nul + 1 >= table.size || table.bytes[nul + 1] == 0;
    const bool emptySet = setEnds && nul == first;
    if (!emptySet && number == n) return reinterpret_cast<const char*>(table.bytes + p);
    if (setEnds) {
      *cursor = nul + 2 < table.size ? nul + 2 : table.size;
      return nullptr;
    }
    p = nul + 1;
  }
  *cursor = table.size;
  return nullptr;
}

bool FindSmbiosStructureByHandle(const SmbiosTable& table, uint16_t handle, size_t* found, uint16_t* next) {
  size_t cursor = 0;
  while (HasHeader(table, cursor)) {
    size_t here = cursor;
    GetSmbiosStringByNumber(table, &cursor, SMBIOS_NO_HANDLE);
    if (Read16(table.bytes + here + SMBIOS_STRUCTURE_HANDLE) == handle) {
      *found = here;
      *next = HasHeader(table, cursor) ? Read16(table.bytes + cursor + SMBIOS_STRUCTURE_HANDLE) : SMBIOS_NO_HANDLE;
      return true;
    }
  }
  return false;
}

bool SmbiosStringLength(const SmbiosTable& table, const char* text, size_t* length) {
  const uint8_t* start = reinterpret_cast<const uint8_t*>(text);
  size_t offset = static_cast<size_t>(start - table.bytes);
  for (size_t n = 0; offset + n < table.size; ++n) {
    if (start[n] == 0) {
      *length = n;
      return true;
    }
  }
  return false;
}

const char* FindSmbiosBoardName(const SmbiosEntryPoint& entry, const SmbiosTable& table) {
  // By position: the structure's own Product field (its string number) is not read.
  constexpr uint16_t BASEBOARD_NAME_STRING = 2;
  if (table.size < SMBIOS_STRUCTURE_HEADER_SIZE) return nullptr;
  uint16_t handle = Read16(table.bytes + SMBIOS_STRUCTURE_HANDLE);
  for (uint32_t index = 0; index < entry.structureLimit && handle != SMBIOS_NO_HANDLE; ++index) {
    size_t at = 0;
    uint16_t next = SMBIOS_NO_HANDLE;
    if (!FindSmbiosStructureByHandle(table, handle, &at, &next)) return nullptr;
    handle = next;
    if (table.bytes[at + SMBIOS_STRUCTURE_TYPE] == SMBIOS_TYPE_BASEBOARD) {
      return GetSmbiosStringByNumber(table, &at, BASEBOARD_NAME_STRING);
    }
  }
  return nullptr;
}
