#include "fields/field_handlers.h"
#include "runtime/print.h"
#include "runtime/number.h"
#include "runtime/text.h"

namespace {

constexpr int32_t CHASSIS_TYPE_MIN = 0;
constexpr int32_t CHASSIS_TYPE_MAX = 36;

}  // namespace

int32_t HandleChassisType(const char* rest, FieldEntry* row) {
  const char* equals = FindChar(rest, '=');
  if (equals == nullptr) {
    Print("[ERROR] Chassis type invalid\n");
    return FIELD_HANDLER_FAILED;
  }
  int32_t value = ReadDecimal32(equals + 1);
  if (value < CHASSIS_TYPE_MIN || value > CHASSIS_TYPE_MAX) {
    Print("[ERROR] Chassis Type Out Of Range\n");
    return FIELD_HANDLER_FAILED;
  }
  row->Data[0] = static_cast<uint8_t>(value);
  row->Size = 1;
  return FIELD_HANDLER_SET;
}
