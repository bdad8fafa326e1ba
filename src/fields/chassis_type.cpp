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
  // A whole decimal number: "0x17" or "3x" must not be read as 0 or 3.
  const char* text = equals + 1;
  DecimalReading reading = ReadDecimal(text, DecimalOverflow::Hold);
  if (reading.end == text || *reading.end != '\0') {
    Print("[ERROR] Chassis type invalid\n");
    return FIELD_HANDLER_FAILED;
  }
  const int64_t value = reading.value;
  if (value < CHASSIS_TYPE_MIN || value > CHASSIS_TYPE_MAX) {
    Print("[ERROR] Chassis Type Out Of Range\n");
    return FIELD_HANDLER_FAILED;
  }
  row->Data[0] = static_cast<uint8_t>(value);
  row->Size = 1;
  return FIELD_HANDLER_SET;
}
