#include "bmc/fru_storage.h"

#include "bmc/ipmi_request.h"
#include "bmc/kcs_transfer.h"
#include "platform/platform.h"
#include "runtime/print.h"
#include "runtime/text.h"
#include "runtime/verbose.h"

namespace {

constexpr int BMC_IDENTITY_ATTEMPTS = 5;
constexpr int FRU_READ_ATTEMPTS = 12;
constexpr int FRU_WRITE_ATTEMPTS = 11;
constexpr uint32_t FRU_RETRY_DELAY_US = 1000;
// A BMC that reports its FRU device busy gets a longer pause before the next attempt.
constexpr uint32_t FRU_BUSY_DELAY_US = 5000;

// Get Device ID response data.
constexpr size_t DEVICE_ID_FIRMWARE_MAJOR = 2;
constexpr size_t DEVICE_ID_FIRMWARE_MINOR = 3;
constexpr size_t DEVICE_ID_MANUFACTURER = 6;  // three bytes, least significant first
constexpr size_t DEVICE_ID_AUXILIARY = 11;    // four bytes, optional
constexpr int32_t DEVICE_ID_MANUFACTURER_END = 9;
constexpr int32_t DEVICE_ID_AUXILIARY_END = 15;
constexpr uint8_t DEVICE_ID_AVAILABLE_BIT = 0x80;

constexpr uint8_t IPMI_CC_NODE_BUSY = 0x81;
constexpr uint8_t IPMI_CC_REQUEST_TOO_LONG = 0xC7;
constexpr uint8_t IPMI_CC_REQUEST_TRUNCATED = 0xC8;
constexpr uint8_t IPMI_CC_CANNOT_RETURN_COUNT = 0xCA;

// Read FRU Data response data: the count returned, then the bytes.
constexpr int32_t READ_FRU_COUNT_BYTES = 1;
// Write FRU Data request data: device, offset low and high, then the bytes.
constexpr size_t WRITE_FRU_PREFIX = 3;

uint8_t DeviceByte(int32_t fruId) { return static_cast<uint8_t>(fruId & 0xFF); }

uint32_t LittleEndian(const uint8_t* bytes, size_t count) {
  uint32_t value = 0;
  for (size_t i = count; i > 0; --i) value = value << 8 | bytes[i - 1];
  return value;
}

// Completion codes by which BMCs say a chunk is longer than they take.
bool AsksForSmallerChunks(int32_t result) {
  return result == IPMI_COMPLETION_ERROR &&
         (gIpmiCompletionCode == IPMI_CC_REQUEST_TOO_LONG || gIpmiCompletionCode == IPMI_CC_REQUEST_TRUNCATED ||
          gIpmiCompletionCode == IPMI_CC_CANNOT_RETURN_COUNT);
}

size_t Smaller(size_t a, size_t b) { return a < b ? a : b; }

// A BMC that refuses a chunk as too long gets half as much from then on, down to 8 bytes.
bool ShrinkChunk(int32_t result, size_t* chunkLimit, size_t* chunk) {
  if (!AsksForSmallerChunks(result) || *chunkLimit <= FRU_CHUNK_MIN) return false;
  *chunkLimit /= 2;
  *chunk = Smaller(*chunk, *chunkLimit);
  return true;
}

// The chunk lines: "Read Fru %d startOffset=0x%x, length=%d\n" and their write and error twins.
void PrintChunk(const char* format, int32_t fruId, size_t offset, size_t chunk) {
  Print(format, fruId, static_cast<unsigned>(offset), static_cast<int>(chunk));
}

constexpr const char* READ_CHUNK_TRACE = "Read Fru %d startOffset=0x%x, length=%d\n";
constexpr const char* READ_CHUNK_ERROR = "[ERROR] Read Fru %d startOffset=0x%x, length=%d\n";
constexpr const char* WRITE_CHUNK_TRACE = "Write Fru %d startOffset=0x%x, length=%d\n";
constexpr const char* WRITE_CHUNK_ERROR = "[ERROR] Write Fru %d startOffset=0x%x, length=%d\n";

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

Identity AskIdentity(uint32_t* manufacturer, const ManufacturerIds& supported) {
  int32_t r = IpmiSendCommand(IPMI_NETFN_APP, IPMI_CMD_GET_DEVICE_ID, nullptr, 0);
  if (r < DEVICE_ID_MANUFACTURER_END) return Identity::NoAnswer;
  *manufacturer = LittleEndian(gKcsResponse + DEVICE_ID_MANUFACTURER, 3);
  if (!IsSupported(*manufacturer, supported)) return Identity::OtherManufacturer;
  // The auxiliary revision is optional; a reply that stops before it shows 0.
  uint32_t auxiliary = r >= DEVICE_ID_AUXILIARY_END ? LittleEndian(gKcsResponse + DEVICE_ID_AUXILIARY, 4) : 0;
  Print("BMC Revision = %x.%x.%x\n", gKcsResponse[DEVICE_ID_FIRMWARE_MAJOR] & ~DEVICE_ID_AVAILABLE_BIT & 0xFF,
        gKcsResponse[DEVICE_ID_FIRMWARE_MINOR], auxiliary);
  return Identity::Supported;
}

// One Read FRU Data request; the count of bytes stored at offset, or 0 when
// the attempt failed (no answer, a completion code, no bytes).
size_t ReadChunk(int32_t fruId, size_t offset, size_t chunk, uint8_t* image, int32_t* result) {
  const uint8_t request[] = {DeviceByte(fruId), static_cast<uint8_t>(offset & 0xFF),
                             static_cast<uint8_t>(offset >> 8 & 0xFF), static_cast<uint8_t>(chunk)};
  *result = IpmiSendCommand(IPMI_NETFN_STORAGE, IPMI_CMD_READ_FRU_DATA, request, sizeof(request));
  if (*result <= READ_FRU_COUNT_BYTES) return 0;
  // The count the BMC names, but never more than arrived or than was asked for.
  size_t arrived = static_cast<size_t>(*result - READ_FRU_COUNT_BYTES);
  size_t stored = Smaller(Smaller(gKcsResponse[0], arrived), chunk);
  CopyBytes(image + offset, gKcsResponse + READ_FRU_COUNT_BYTES, stored);
  return stored;
}

// One Write FRU Data request, framed straight into the request buffer.
int32_t WriteChunk(int32_t fruId, size_t offset, size_t chunk, const uint8_t* bytes) {
  gKcsRequest[0] = static_cast<uint8_t>(IPMI_NETFN_STORAGE << 2);
  gKcsRequest[1] = IPMI_CMD_WRITE_FRU_DATA;
  gKcsRequest[2] = DeviceByte(fruId);
  gKcsRequest[3] = static_cast<uint8_t>(offset & 0xFF);
  gKcsRequest[4] = static_cast<uint8_t>(offset >> 8 & 0xFF);
  CopyBytes(gKcsRequest + IPMI_REQUEST_HEADER + WRITE_FRU_PREFIX, bytes + offset, chunk);
  int32_t result = IpmiTransact(IPMI_REQUEST_HEADER + WRITE_FRU_PREFIX + chunk);
  PlatformStall(FRU_RETRY_DELAY_US);  // after every attempt: a BMC may need it to commit
  return result;
}

}  // namespace

bool CheckBmcIdentity() {
  const ManufacturerIds supported = SupportedManufacturers();
  Identity identity = Identity::NoAnswer;
  uint32_t manufacturer = 0;
  for (int attempt = 0; attempt < BMC_IDENTITY_ATTEMPTS; ++attempt) {
    identity = AskIdentity(&manufacturer, supported);
    if (identity == Identity::Supported) return true;
  }
  if (identity == Identity::OtherManufacturer) {
    Print("[ERROR] BMC is not supported.\n");
    PrintManufacturerMismatch(manufacturer, supported);
  } else {
    Print("[ERROR] BMC is not accessible.\n");
  }
  return false;
}

bool GetFruInventorySize(int32_t fruId, uint16_t* size) {
  const uint8_t request[] = {DeviceByte(fruId)};
  int32_t r = IpmiSendCommand(IPMI_NETFN_STORAGE, IPMI_CMD_GET_FRU_INVENTORY_AREA_INFO, request, sizeof(request));
  if (gIpmiCompletionCode != 0 || r < 2) {
    Print("[ERROR] Get FRU size error\n");
    return false;
  }
  *size = static_cast<uint16_t>(gKcsResponse[0] | gKcsResponse[1] << 8);
  Print("Inventory FRU Size = %d Bytes\n", *size);
  Print("FRU data read from BMC: ID=%d\n", fruId);
  return true;
}

bool ReadFruImage(int32_t fruId, uint16_t size, uint8_t* image, FruReadErrors errors) {
  FillBytes(image, 0, size);
  if (size == 0) {
    Print("[ERROR] Read FRU error\n");
    return false;
  }
  size_t offset = 0;
  size_t chunkLimit = FRU_CHUNK_MAX;
  while (offset < size) {
    size_t chunk = Smaller(size - offset, chunkLimit);
    if (gVerbose) PrintChunk(READ_CHUNK_TRACE, fruId, offset, chunk);
    for (int attempt = 1;;) {
      int32_t result = 0;
      size_t stored = ReadChunk(fruId, offset, chunk, image, &result);
      if (stored > 0) {
        offset += stored;  // a short answer: the next request asks for the rest
        break;
      }
      if (ShrinkChunk(result, &chunkLimit, &chunk)) {
        if (gVerbose) PrintChunk(READ_CHUNK_TRACE, fruId, offset, chunk);
        continue;
      }
      if (attempt == FRU_READ_ATTEMPTS) {
        if (errors == FruReadErrors::Print) {
          PrintChunk(READ_CHUNK_ERROR, fruId, offset, chunk);
          Print("[ERROR] Read FRU error\n");
        }
        return false;
      }
      ++attempt;
      PlatformStall(FRU_RETRY_DELAY_US);
    }
  }
  return true;
}

int32_t WriteFruData(int32_t fruId, int32_t length, const uint8_t* bytes, size_t* reached) {
  if (reached != nullptr) *reached = 0;
  if (length <= 0) return IPMI_TRANSFER_FAILED;
  int32_t result = IPMI_TRANSFER_FAILED;
  size_t offset = 0;
  size_t chunkLimit = FRU_CHUNK_MAX;
  const size_t total = static_cast<size_t>(length);
  while (offset < total) {
    size_t chunk = Smaller(total - offset, chunkLimit);
    if (gVerbose) PrintChunk(WRITE_CHUNK_TRACE, fruId, offset, chunk);
    if (reached != nullptr && offset + chunk > *reached) *reached = offset + chunk;
    for (int attempt = 1;;) {
      result = WriteChunk(fruId, offset, chunk, bytes);
      if (result >= 0) break;
      if (ShrinkChunk(result, &chunkLimit, &chunk)) {
        if (gVerbose) PrintChunk(WRITE_CHUNK_TRACE, fruId, offset, chunk);
        continue;
      }
      if (attempt == FRU_WRITE_ATTEMPTS) {
        PrintChunk(WRITE_CHUNK_ERROR, fruId, offset, chunk);
        return IPMI_TRANSFER_FAILED;
      }
      ++attempt;
      if (result == IPMI_COMPLETION_ERROR && gIpmiCompletionCode == IPMI_CC_NODE_BUSY) PlatformStall(FRU_BUSY_DELAY_US);
    }
    offset += chunk;
  }
  return result;
}

