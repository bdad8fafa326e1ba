#include "fields/field_handlers.h"
#include "fields/smbios.h"
#include "fru/fru_format.h"
#include "platform/platform.h"
#include "platform/print.h"
#include "runtime/text.h"

namespace {

// The product name is the second string of the first Baseboard Information
// structure, by position; the structure's own Product field is not read.
constexpr uint16_t BASEBOARD_NAME_STRING = 2;

// Walks the structures by handle, in table order, as many as the entry point counts.
const char* FindBoardName(const SmbiosEntryPoint& entry, const SmbiosTable& table) {
  if (table.size < SMBIOS_STRUCTURE_HEADER_SIZE) return nullptr;
  uint16_t handle = static_cast<uint16_t>(table.bytes[SMBIOS_STRUCTURE_HANDLE] |
                                          table.bytes[SMBIOS_STRUCTURE_HANDLE + 1] << 8);
  for (uint32_t index = 0; index < entry.structureCount && handle != SMBIOS_NO_HANDLE; ++index) {
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

void PrintWideLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PrintWideLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintWideV(format, args);
  va_end(args);
}

}  // namespace

int32_t HandleBoardProductName(const char* rest, FieldEntry* row) {
  if (FindChar(rest, '=') != nullptr) return FIELD_HANDLER_DECLINED;
  SmbiosEntryPoint entry{};
  if (!FindSmbiosEntryPoint(&entry)) {
    PrintWide(u"ERROR: SMBIOS table not found.\n");
    return FIELD_HANDLER_SET;  // no name: the row stays not given
  }
  PrintWideLine("SMBIOS Ver: %x.%x  Rev: %x  Table Count: %d\n", entry.major, entry.minor, entry.revision,
                entry.structureCount);
  SmbiosTable table{nullptr, 0};
  if (PlatformIsError(PlatformGetSmbiosTable(entry.tableAddress, entry.tableLength, &table.bytes, &table.size)) ||
      table.bytes == nullptr) {
    return FIELD_HANDLER_SET;
  }
  if (table.size > entry.tableLength) table.size = entry.tableLength;
  const char* name = FindBoardName(entry, table);
  size_t length = 0;
  if (name == nullptr || !SmbiosStringLength(table, name, &length)) return FIELD_HANDLER_SET;
  // Longer names are refused by the size check after this; none is copied past Data.
  if (length > FIELD_DATA_SIZE - 1) length = FIELD_DATA_SIZE - 1;
  CopyBytes(row->Data, name, length);
  row->Data[length] = 0;
  row->Size = static_cast<int32_t>(length);
  row->Type = FRU_TYPE_TEXT;
  return FIELD_HANDLER_SET;
}
