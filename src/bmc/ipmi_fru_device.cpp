#include "bmc/ipmi_fru_device.h"

#include "bmc/ipmi_request.h"
#include "platform/platform.h"
#include "runtime/print.h"
#include "runtime/text.h"

namespace {

constexpr int BMC_IDENTITY_ATTEMPTS = 5;
// After every Write FRU Data attempt: a BMC may need the time to commit.
constexpr uint32_t FRU_WRITE_SETTLE_US = 1000;

// Get Device ID response data.
constexpr size_t DEVICE_ID_FIRMWARE_MAJOR = 2;
constexpr size_t DEVICE_ID_FIRMWARE_MINOR = 3;
constexpr size_t DEVICE_ID_MANUFACTURER = 6;  // three bytes, least significant first
constexpr size_t DEVICE_ID_PRODUCT = 9;       // two bytes, least significant first
constexpr size_t DEVICE_ID_AUXILIARY = 11;    // four bytes, optional
constexpr size_t DEVICE_ID_MANUFACTURER_END = 9;
constexpr size_t DEVICE_ID_PRODUCT_END = 11;
constexpr size_t DEVICE_ID_AUXILIARY_END = 15;
constexpr uint8_t DEVICE_ID_AVAILABLE_BIT = 0x80;
constexpr size_t DEVICE_GUID_LENGTH = 16;
// Get FRU Inventory Area Info response data: the size, least significant byte first.
constexpr size_t FRU_INFO_SIZE_END = 2;

constexpr uint8_t IPMI_CC_NODE_BUSY = 0x81;
constexpr uint8_t IPMI_CC_REQUEST_TOO_LONG = 0xC7;
constexpr uint8_t IPMI_CC_REQUEST_TRUNCATED = 0xC8;
constexpr uint8_t IPMI_CC_CANNOT_RETURN_COUNT = 0xCA;
// Invalid data field: to Write FRU Data, a BMC that checks the whole FRU before it stores refuses it so.
constexpr uint8_t IPMI_CC_INVALID_DATA = 0xCC;
constexpr uint8_t IPMI_CC_UNSPECIFIED = 0xFF;

// Read FRU Data response data: the count returned, then the bytes.
constexpr size_t READ_FRU_COUNT_BYTES = 1;
// Write FRU Data response data: the count written.
constexpr size_t WRITE_FRU_COUNT = 0;
// Write FRU Data request data: device, offset low and high, then the bytes.
constexpr size_t WRITE_FRU_PREFIX = 3;
constexpr size_t WRITE_FRU_CHUNK_MAX = 255 - 2 - WRITE_FRU_PREFIX;

uint8_t DeviceByte(int32_t fruId) { return static_cast<uint8_t>(fruId & 0xFF); }

uint32_t LittleEndian(const uint8_t* bytes, size_t count) {
  uint32_t value = 0;
  for (size_t i = count; i > 0; --i) value = value << 8 | bytes[i - 1];
  return value;
}

size_t Smaller(size_t a, size_t b) { return a < b ? a : b; }

IpmiFruDevice& Fru(void* context) { return *static_cast<IpmiFruDevice*>(context); }

IpmiAnswer Ask(IpmiFruDevice& fru, uint8_t netFn, uint8_t command, const uint8_t* data, size_t length) {
  const IpmiAnswer answer = IpmiSendCommand(*fru.transport, netFn, command, data, length);
  fru.answered = answer.answered;
  return answer;
}

// What an answer to Read or Write FRU Data says of the chunk. A BMC says in
// several ways that a chunk is longer than it takes; a transport that cannot
// carry the message at all (Linux's SSIF path) answers 0xFF.
PlatformFruOutcome ChunkOutcome(const IpmiFruDevice& fru, const IpmiAnswer& answer) {
  if (!answer.answered) return PlatformFruOutcome::Failed;
  switch (answer.completionCode) {
    case IPMI_CC_OK: return PlatformFruOutcome::Done;
    case IPMI_CC_NODE_BUSY: return PlatformFruOutcome::Busy;
    case IPMI_CC_REQUEST_TOO_LONG:
    case IPMI_CC_REQUEST_TRUNCATED:
    case IPMI_CC_CANNOT_RETURN_COUNT: return PlatformFruOutcome::TooLong;
    case IPMI_CC_UNSPECIFIED:
      return fru.transport->noAnswerMeansTooLong ? PlatformFruOutcome::TooLong : PlatformFruOutcome::Failed;
    default: return PlatformFruOutcome::Failed;
  }
}

enum class Identity { Supported, NoAnswer, OtherManufacturer };

struct ManufacturerIds {
  const uint32_t* ids;
  size_t count;
};

// The platform's list for this run when it names one, else the build's.
ManufacturerIds SupportedManufacturers() {
  ManufacturerIds list{BMC_BUILD_MANUFACTURER_IDS, sizeof(BMC_BUILD_MANUFACTURER_IDS) / sizeof(uint32_t)};
  const uint32_t* ids = nullptr;
  size_t count = 0;
  if (!PlatformIsError(PlatformGetManufacturerIds(&ids, &count)) && ids != nullptr && count > 0) list = {ids, count};
  return list;
}

bool IsSupported(uint32_t manufacturer, const ManufacturerIds& list) {
  for (size_t i = 0; i < list.count; ++i) {
    if (list.ids[i] == manufacturer) return true;
  }
  return false;
}

// What the BMC said it is and what this run accepts, so the line can act on it.
void PrintManufacturerMismatch(uint32_t manufacturer, const ManufacturerIds& list) {
  Print("[ERROR] BMC manufacturer ID is %u (0x%06X); this build supports ", manufacturer, manufacturer);
  for (size_t i = 0; i < list.count; ++i) Print("%s%u (0x%06X)", i == 0 ? "" : ", ", list.ids[i], list.ids[i]);
  Print("\n");
}

Identity AskIdentity(IpmiFruDevice& fru, uint32_t* manufacturer, uint16_t* product, const ManufacturerIds& supported) {
  const IpmiAnswer a = Ask(fru, IPMI_NETFN_APP, IPMI_CMD_GET_DEVICE_ID, nullptr, 0);
  if (!IpmiAnswerHolds(a, DEVICE_ID_MANUFACTURER_END)) return Identity::NoAnswer;
  *manufacturer = LittleEndian(a.data + DEVICE_ID_MANUFACTURER, 3);
  if (!IsSupported(*manufacturer, supported)) return Identity::OtherManufacturer;
  *product = a.length >= DEVICE_ID_PRODUCT_END ? static_cast<uint16_t>(LittleEndian(a.data + DEVICE_ID_PRODUCT, 2)) : 0;
  // The auxiliary revision is optional; a reply that stops before it shows 0.
  const uint32_t auxiliary = a.length >= DEVICE_ID_AUXILIARY_END ? LittleEndian(a.data + DEVICE_ID_AUXILIARY, 4) : 0;
  Print("BMC Revision = %x.%x.%x\n", a.data[DEVICE_ID_FIRMWARE_MAJOR] & ~DEVICE_ID_AVAILABLE_BIT & 0xFF,
        a.data[DEVICE_ID_FIRMWARE_MINOR], auxiliary);
  return Identity::Supported;
}

bool Identify(void* context, PlatformBmcIdentity* identity) { return CheckBmcIdentity(Fru(context), identity); }

void AskGuid(void* context, PlatformBmcIdentity* identity) { AskDeviceGuid(Fru(context), identity); }

PlatformFruSize InventorySize(void* context, int32_t fruId) {
  const uint8_t request[] = {DeviceByte(fruId)};
  const IpmiAnswer a =
      Ask(Fru(context), IPMI_NETFN_STORAGE, IPMI_CMD_GET_FRU_INVENTORY_AREA_INFO, request, sizeof(request));
  if (!a.answered) return PlatformFruSize{false, 0, PlatformFruSizeFailure::NoAnswer, a.completionCode};
  if (a.completionCode != IPMI_CC_OK) return PlatformFruSize{false, 0, PlatformFruSizeFailure::Refused, a.completionCode};
  if (!IpmiAnswerHolds(a, FRU_INFO_SIZE_END)) return PlatformFruSize{false, 0};
  return PlatformFruSize{true, static_cast<uint16_t>(a.data[0] | a.data[1] << 8)};
}

// One Read FRU Data request; the bytes the BMC returned are stored at into.
PlatformFruTransfer Read(void* context, int32_t fruId, size_t offset, size_t count, uint8_t* into) {
  IpmiFruDevice& fru = Fru(context);
  const uint8_t request[] = {DeviceByte(fruId), static_cast<uint8_t>(offset & 0xFF),
                             static_cast<uint8_t>(offset >> 8 & 0xFF), static_cast<uint8_t>(count)};
  const IpmiAnswer a = Ask(fru, IPMI_NETFN_STORAGE, IPMI_CMD_READ_FRU_DATA, request, sizeof(request));
  const PlatformFruOutcome outcome = ChunkOutcome(fru, a);
  if (outcome != PlatformFruOutcome::Done) return PlatformFruTransfer{outcome, 0};
  if (a.length <= READ_FRU_COUNT_BYTES) return PlatformFruTransfer{PlatformFruOutcome::Failed, 0};
  // The count the BMC names, but never more than arrived or than was asked for.
  const size_t stored = Smaller(Smaller(a.data[0], a.length - READ_FRU_COUNT_BYTES), count);
  if (stored == 0) return PlatformFruTransfer{PlatformFruOutcome::Failed, 0};
  CopyBytes(into, a.data + READ_FRU_COUNT_BYTES, stored);
  return PlatformFruTransfer{PlatformFruOutcome::Done, stored};
}

// One Write FRU Data request: the device, the offset, then the chunk's bytes.
PlatformFruTransfer Write(void* context, int32_t fruId, size_t offset, const uint8_t* bytes, size_t count) {
  IpmiFruDevice& fru = Fru(context);
  uint8_t request[WRITE_FRU_PREFIX + WRITE_FRU_CHUNK_MAX];
  if (count > WRITE_FRU_CHUNK_MAX) return PlatformFruTransfer{PlatformFruOutcome::TooLong, 0};
  request[0] = DeviceByte(fruId);
  request[1] = static_cast<uint8_t>(offset & 0xFF);
  request[2] = static_cast<uint8_t>(offset >> 8 & 0xFF);
  CopyBytes(request + WRITE_FRU_PREFIX, bytes, count);
  const IpmiAnswer a = Ask(fru, IPMI_NETFN_STORAGE, IPMI_CMD_WRITE_FRU_DATA, request, WRITE_FRU_PREFIX + count);
  PlatformStall(FRU_WRITE_SETTLE_US);
  if (a.answered && a.completionCode == IPMI_CC_INVALID_DATA) {
    Print("[ERROR] The BMC refused to store the FRU (0x%02X)\n", a.completionCode);
    return PlatformFruTransfer{PlatformFruOutcome::Refused, 0};
  }
  const PlatformFruOutcome outcome = ChunkOutcome(fru, a);
  if (outcome != PlatformFruOutcome::Done) return PlatformFruTransfer{outcome, 0};
  // Fewer bytes written than sent, by a BMC that took them all: it holds them to store later.
  if (a.length <= WRITE_FRU_COUNT) return PlatformFruTransfer{outcome, count};
  const size_t written = a.data[WRITE_FRU_COUNT];
  if (written < count) return PlatformFruTransfer{PlatformFruOutcome::Held, count};
  // More than was sent: the BMC counts the whole FRU it has just stored from its cache.
  return PlatformFruTransfer{outcome, written};
}

// A BMC's writes are on its side of the link: nothing more to wait for.
bool Flush(void*) { return true; }

bool Answering(void* context) { return Fru(context).answered; }

}  // namespace

void OpenIpmiFruDevice(IpmiFruDevice* fru, const PlatformIpmiTransport* transport) {
  fru->transport = transport;
  fru->answered = true;
  fru->device = PlatformFruDevice{Identify, AskGuid, InventorySize, Read,    Write,
                                  Flush,    Answering, fru,       transport->readGrowthMax};
}

bool CheckBmcIdentity(IpmiFruDevice& fru, PlatformBmcIdentity* bmc) {
  const ManufacturerIds supported = SupportedManufacturers();
  Identity identity = Identity::NoAnswer;
  uint32_t manufacturer = 0;
  uint16_t product = 0;
  for (int attempt = 0; attempt < BMC_IDENTITY_ATTEMPTS; ++attempt) {
    identity = AskIdentity(fru, &manufacturer, &product, supported);
    if (identity != Identity::Supported) continue;
    if (bmc != nullptr) {
      bmc->manufacturer = manufacturer;
      bmc->product = product;
    }
    return true;
  }
  if (identity == Identity::OtherManufacturer) {
    Print("[ERROR] BMC is not supported.\n");
    PrintManufacturerMismatch(manufacturer, supported);
  } else {
    Print("[ERROR] BMC is not accessible.\n");
  }
  return false;
}

void AskDeviceGuid(IpmiFruDevice& fru, PlatformBmcIdentity* identity) {
  const IpmiAnswer a = Ask(fru, IPMI_NETFN_APP, IPMI_CMD_GET_DEVICE_GUID, nullptr, 0);
  identity->hasGuid = IpmiAnswerHolds(a, DEVICE_GUID_LENGTH);
  if (identity->hasGuid) CopyBytes(identity->guid, a.data, DEVICE_GUID_LENGTH);
}
