#include "bmc/fru_storage.h"

#include "bmc/ipmi_request.h"
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
constexpr size_t DEVICE_ID_PRODUCT = 9;       // two bytes, least significant first
constexpr size_t DEVICE_ID_AUXILIARY = 11;    // four bytes, optional
constexpr int32_t DEVICE_ID_MANUFACTURER_END = 9;
constexpr int32_t DEVICE_ID_PRODUCT_END = 11;
constexpr int32_t DEVICE_GUID_LENGTH = 16;
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

Identity AskIdentity(uint32_t* manufacturer, uint16_t* product, const ManufacturerIds& supported) {
  int32_t r = IpmiSendCommand(IPMI_NETFN_APP, IPMI_CMD_GET_DEVICE_ID, nullptr, 0);
  if (r < DEVICE_ID_MANUFACTURER_END) return Identity::NoAnswer;
  *manufacturer = LittleEndian(IpmiResponseData() + DEVICE_ID_MANUFACTURER, 3);
  if (!IsSupported(*manufacturer, supported)) return Identity::OtherManufacturer;
  *product = r >= DEVICE_ID_PRODUCT_END ? static_cast<uint16_t>(LittleEndian(IpmiResponseData() + DEVICE_ID_PRODUCT, 2))
                                        : 0;
  // The auxiliary revision is optional; a reply that stops before it shows 0.
  uint32_t auxiliary = r >= DEVICE_ID_AUXILIARY_END ? LittleEndian(IpmiResponseData() + DEVICE_ID_AUXILIARY, 4) : 0;
  Print("BMC Revision = %x.%x.%x\n", IpmiResponseData()[DEVICE_ID_FIRMWARE_MAJOR] & ~DEVICE_ID_AVAILABLE_BIT & 0xFF,
        IpmiResponseData()[DEVICE_ID_FIRMWARE_MINOR], auxiliary);
  return Identity::Supported;
}

// What reading and writing a FRU in chunks share: one pass from offset 0 to
// total in chunks of at most 32 bytes, halved down to 8 when the BMC says a
// chunk is too long, each chunk tried a bounded number of times.
struct ChunkWalk;
struct ChunkOperation {
  const char* trace;  // the verbose line of a chunk about to be sent
  const char* error;  // the line of a chunk given up on
  int attempts;
  // One attempt at the chunk: the bytes it got through (0 when it failed),
  // the request's result in *result.
  size_t (*attempt)(const ChunkWalk& walk, size_t offset, size_t chunk, int32_t* result);
  // The pause before the next attempt at a chunk that failed with result.
  void (*pause)(int32_t result);
};

struct ChunkWalk {
  int32_t fruId;
  uint8_t* image;            // reading: where the bytes go
  const uint8_t* bytes;      // writing: what is sent
  const uint8_t* unchanged;  // writing, when given: a chunk equal to these bytes is not sent
  FruTouched* touched;       // writing, when given: marks every chunk sent
  bool printError;           // whether a chunk given up on prints its line
  int32_t lastResult;        // the result of the last attempt
  bool interruptible;        // a signal held by the platform stops the walk before the next chunk
};

void SetBits(uint8_t* bits, size_t offset, size_t count) {
  for (size_t i = offset; i < offset + count && i < FRU_OFFSET_COUNT; ++i) {
    bits[i / 8] = static_cast<uint8_t>(bits[i / 8] | 1u << (i % 8));
  }
}

void MarkTouched(FruTouched* touched, size_t offset, size_t count) {
  if (touched != nullptr) SetBits(touched->bits, offset, count);
}

void MarkAccepted(FruTouched* touched, size_t offset, size_t count) {
  if (touched != nullptr) SetBits(touched->accepted, offset, count);
}

// A chunk that holds what the FRU holds already needs no request.
bool IsUnchanged(const ChunkWalk& walk, size_t offset, size_t chunk) {
  return walk.unchanged != nullptr && CompareBytes(walk.bytes + offset, walk.unchanged + offset, chunk) == 0;
}

// Every chunk from start to end, or false at the first chunk given up on.
// The grid is the same whether or not a chunk is sent, so a halving moves it
// as it would for a full write.
bool WalkChunks(const ChunkOperation& op, ChunkWalk& walk, size_t start, size_t end) {
  size_t offset = start;
  size_t chunkLimit = FRU_CHUNK_MAX;
  while (offset < end) {
    if (walk.interruptible && PlatformInterruption() != nullptr) return false;
    size_t chunk = Smaller(end - offset, chunkLimit);
    bool traced = false;  // the chunk's line, once per chunk size
    for (int attempt = 1;;) {
      if (IsUnchanged(walk, offset, chunk)) {
        offset += chunk;
        break;
      }
      if (!traced && gVerbose) PrintChunk(op.trace, walk.fruId, offset, chunk);
      traced = true;
      MarkTouched(walk.touched, offset, chunk);
      size_t done = op.attempt(walk, offset, chunk, &walk.lastResult);
      if (done > 0) {
        MarkAccepted(walk.touched, offset, done);
        offset += done;  // a short read: the next request asks for the rest
        break;
      }
      if (ShrinkChunk(walk.lastResult, &chunkLimit, &chunk)) {
        traced = false;  // the smaller chunk at the same offset is looked at afresh: it may hold no change
        continue;
      }
      if (attempt == op.attempts) {
        if (walk.printError) PrintChunk(op.error, walk.fruId, offset, chunk);
        return false;
      }
      ++attempt;
      op.pause(walk.lastResult);
    }
  }
  return true;
}

// One Read FRU Data request; the count of bytes stored at offset, or 0 when
// the attempt failed (no answer, a completion code, no bytes).
size_t ReadChunk(const ChunkWalk& walk, size_t offset, size_t chunk, int32_t* result) {
  const uint8_t request[] = {DeviceByte(walk.fruId), static_cast<uint8_t>(offset & 0xFF),
                             static_cast<uint8_t>(offset >> 8 & 0xFF), static_cast<uint8_t>(chunk)};
  *result = IpmiSendCommand(IPMI_NETFN_STORAGE, IPMI_CMD_READ_FRU_DATA, request, sizeof(request));
  if (*result <= READ_FRU_COUNT_BYTES) return 0;
  // The count the BMC names, but never more than arrived or than was asked for.
  size_t arrived = static_cast<size_t>(*result - READ_FRU_COUNT_BYTES);
  size_t stored = Smaller(Smaller(IpmiResponseData()[0], arrived), chunk);
  CopyBytes(walk.image + offset, IpmiResponseData() + READ_FRU_COUNT_BYTES, stored);
  return stored;
}

void PauseBeforeRead(int32_t) { PlatformStall(FRU_RETRY_DELAY_US); }

// One Write FRU Data request: the device, the offset, then the chunk's bytes.
size_t WriteChunk(const ChunkWalk& walk, size_t offset, size_t chunk, int32_t* result) {
  uint8_t request[WRITE_FRU_PREFIX + FRU_CHUNK_MAX];
  request[0] = DeviceByte(walk.fruId);
  request[1] = static_cast<uint8_t>(offset & 0xFF);
  request[2] = static_cast<uint8_t>(offset >> 8 & 0xFF);
  CopyBytes(request + WRITE_FRU_PREFIX, walk.bytes + offset, chunk);
  *result = IpmiSendCommand(IPMI_NETFN_STORAGE, IPMI_CMD_WRITE_FRU_DATA, request, WRITE_FRU_PREFIX + chunk);
  PlatformStall(FRU_RETRY_DELAY_US);  // after every attempt: a BMC may need it to commit
  return *result >= 0 ? chunk : 0;
}

// A BMC that reports its FRU device busy gets a longer pause; other failures
// have had theirs after the attempt.
void PauseBeforeWrite(int32_t result) {
  if (result == IPMI_COMPLETION_ERROR && gIpmiCompletionCode == IPMI_CC_NODE_BUSY) PlatformStall(FRU_BUSY_DELAY_US);
}

constexpr ChunkOperation FRU_READ = {READ_CHUNK_TRACE, READ_CHUNK_ERROR, FRU_READ_ATTEMPTS, ReadChunk, PauseBeforeRead};
constexpr ChunkOperation FRU_WRITE = {WRITE_CHUNK_TRACE, WRITE_CHUNK_ERROR, FRU_WRITE_ATTEMPTS, WriteChunk,
                                      PauseBeforeWrite};

}  // namespace

bool CheckBmcIdentity(PlatformBmcIdentity* bmc) {
  const ManufacturerIds supported = SupportedManufacturers();
  Identity identity = Identity::NoAnswer;
  uint32_t manufacturer = 0;
  uint16_t product = 0;
  for (int attempt = 0; attempt < BMC_IDENTITY_ATTEMPTS; ++attempt) {
    identity = AskIdentity(&manufacturer, &product, supported);
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

void AskDeviceGuid(PlatformBmcIdentity* identity) {
  int32_t r = IpmiSendCommand(IPMI_NETFN_APP, IPMI_CMD_GET_DEVICE_GUID, nullptr, 0);
  identity->hasGuid = r >= DEVICE_GUID_LENGTH;
  if (identity->hasGuid) CopyBytes(identity->guid, IpmiResponseData(), DEVICE_GUID_LENGTH);
}

bool GetFruInventorySize(int32_t fruId, uint16_t* size) {
  const uint8_t request[] = {DeviceByte(fruId)};
  int32_t r = IpmiSendCommand(IPMI_NETFN_STORAGE, IPMI_CMD_GET_FRU_INVENTORY_AREA_INFO, request, sizeof(request));
  if (gIpmiCompletionCode != 0 || r < 2) {
    Print("[ERROR] Get FRU size error\n");
    return false;
  }
  *size = static_cast<uint16_t>(IpmiResponseData()[0] | IpmiResponseData()[1] << 8);
  Print("Inventory FRU Size = %d Bytes\n", *size);
  Print("FRU data read from BMC: ID=%d\n", fruId);
  return true;
}

bool ReadFruRange(int32_t fruId, size_t start, size_t end, uint8_t* image, FruReadErrors errors) {
  FillBytes(image + start, 0, end - start);
  const bool printErrors = errors == FruReadErrors::Print;
  ChunkWalk walk{fruId, image, nullptr, nullptr, nullptr, printErrors, 0, false};
  if (end > start && WalkChunks(FRU_READ, walk, start, end)) return true;
  if (printErrors) Print("[ERROR] Read FRU error\n");
  return false;
}

bool ReadFruImage(int32_t fruId, uint16_t size, uint8_t* image, FruReadErrors errors) {
  return ReadFruRange(fruId, 0, size, image, errors);
}

int32_t WriteFruRange(int32_t fruId, size_t start, size_t end, const uint8_t* bytes, const uint8_t* unchanged,
                      FruTouched* touched, bool interruptible) {
  if (end <= start) return IPMI_TRANSFER_FAILED;
  ChunkWalk walk{fruId, nullptr, bytes, unchanged, touched, true, 0, interruptible};
  return WalkChunks(FRU_WRITE, walk, start, end) ? walk.lastResult : IPMI_TRANSFER_FAILED;
}

int32_t WriteFruData(int32_t fruId, int32_t length, const uint8_t* bytes) {
  if (length <= 0) return IPMI_TRANSFER_FAILED;
  return WriteFruRange(fruId, 0, static_cast<size_t>(length), bytes, nullptr, nullptr);
}

void ClearTouched(FruTouched* touched) {
  FillBytes(touched->bits, 0, sizeof(touched->bits));
  FillBytes(touched->accepted, 0, sizeof(touched->accepted));
}

size_t CountAccepted(const FruTouched& touched, size_t end) {
  size_t count = 0;
  for (size_t i = 0; i < end && i < FRU_OFFSET_COUNT; ++i) count += touched.accepted[i / 8] >> (i % 8) & 1u;
  return count;
}

size_t CountTouched(const FruTouched& touched, size_t end) {
  size_t count = 0;
  for (size_t i = 0; i < end; ++i) count += IsTouched(touched, i) ? 1 : 0;
  return count;
}

bool IsTouched(const FruTouched& touched, size_t offset) {
  return offset < FRU_OFFSET_COUNT && (touched.bits[offset / 8] >> (offset % 8) & 1u) != 0;
}

bool NextTouchedRun(const FruTouched& touched, size_t from, size_t end, size_t* runStart, size_t* runEnd) {
  size_t at = from;
  while (at < end && !IsTouched(touched, at)) ++at;
  if (at >= end) return false;
  *runStart = at;
  while (at < end && IsTouched(touched, at)) ++at;
  *runEnd = at;
  return true;
}
