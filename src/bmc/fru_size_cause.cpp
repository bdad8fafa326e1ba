#include "bmc/fru_size_cause.h"

#include "runtime/print.h"

namespace {

// The completion codes a BMC gives for Get FRU Inventory Area Info (IPMI 2.0, section 5.2).
constexpr uint8_t IPMI_CC_INVALID_COMMAND = 0xC1;
constexpr uint8_t IPMI_CC_NOT_PRESENT = 0xCB;
constexpr uint8_t IPMI_CC_INSUFFICIENT_PRIVILEGE = 0xD4;
constexpr uint8_t IPMI_CC_NOT_AVAILABLE = 0xD5;

}  // namespace

void PrintFruSizeCause(const PlatformFruSize& answer, int32_t fruId) {
  switch (answer.failure) {
    case PlatformFruSizeFailure::Said:
      return;
    case PlatformFruSizeFailure::NoAnswer:
      Print("[ERROR] The BMC did not answer Get FRU Inventory Area Info\n");
      return;
    case PlatformFruSizeFailure::Refused:
      break;
  }
  switch (answer.completionCode) {
    case IPMI_CC_NOT_PRESENT:
      Print("[ERROR] FRU %d is not present on this BMC (completion code 0xCB)\n", fruId);
      return;
    case IPMI_CC_INVALID_COMMAND:
      Print("[ERROR] The BMC does not support FRU inventory requests (completion code 0xC1)\n");
      return;
    case IPMI_CC_INSUFFICIENT_PRIVILEGE:
      Print("[ERROR] The BMC refused: insufficient privilege (completion code 0xD4)\n");
      return;
    case IPMI_CC_NOT_AVAILABLE:
      Print("[ERROR] The BMC cannot serve FRU %d now (completion code 0xD5)\n", fruId);
      return;
    default:
      Print("[ERROR] The BMC answered completion code 0x%02X\n", answer.completionCode);
      return;
  }
}
