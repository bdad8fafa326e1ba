#include "fields/field_handlers.h"
#include "fields/smbios.h"
#include "fru/fru_format.h"
#include "platform/platform.h"
#include "platform/print.h"
#include "runtime/text.h"

namespace {

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
  // A station's SMBIOS names the station's own board, which would be stamped into every board of the rack.
  const char* remote = PlatformRemoteBmcName();
  if (remote != nullptr) {
    Print("[ERROR] BPN without a value takes this machine's board name, not the board at %s; give BPN=NAME\n", remote);
    return FIELD_HANDLER_FAILED;
  }
  SmbiosEntryPoint entry{};
  if (!FindSmbiosEntryPoint(&entry)) {
    PrintWideFailure(u"ERROR: SMBIOS table not found.\r\n");
    return FIELD_HANDLER_SET;  // no name: the row stays not given
  }
  if (entry.is64) {
    PrintWideLine("SMBIOS Ver: %d.%d  Rev: %d  Table Max Size: %u\r\n", entry.major, entry.minor, entry.revision,
                  entry.tableLength);
  } else {
    PrintWideLine("SMBIOS Ver: %x.%x  Rev: %x  Table Count: %d\r\n", entry.major, entry.minor, entry.revision,
                  static_cast<int>(entry.structureLimit));
  }
  SmbiosTable table{nullptr, 0};
  if (PlatformIsError(PlatformGetSmbiosTable(entry.tableAddress, entry.tableLength, &table.bytes, &table.size)) ||
      table.bytes == nullptr) {
    return FIELD_HANDLER_SET;
  }
  if (table.size > entry.tableLength) table.size = entry.tableLength;
  const char* name = FindSmbiosBoardName(entry, table);
  size_t length = 0;
  // An empty name is no name: taken as a value it would erase the field.
  if (name == nullptr || !SmbiosStringLength(table, name, &length) || length == 0) return FIELD_HANDLER_SET;
  // Longer names are refused by the size check after this; none is copied past Data.
  if (length > FIELD_DATA_SIZE - 1) length = FIELD_DATA_SIZE - 1;
  CopyBytes(row->Data, name, length);
  row->Data[length] = 0;
  row->Size = static_cast<int32_t>(length);
  row->Type = FRU_TYPE_TEXT;
  return FIELD_HANDLER_SET;
}
