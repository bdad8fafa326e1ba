// The FRU inventory as the tool reads and writes it: the Common Header, the
// info area layouts, type/length bytes, the empty areas and area sizing.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr size_t FRU_IMAGE_MAX = 4096;

// Area numbering, by the position of the area's offset byte in the Common Header.
constexpr uint8_t FRU_AREA_INTERNAL_USE = 0;
constexpr uint8_t FRU_AREA_CHASSIS = 1;
constexpr uint8_t FRU_AREA_BOARD = 2;
constexpr uint8_t FRU_AREA_PRODUCT = 3;
constexpr uint8_t FRU_AREA_MULTIRECORD = 4;
constexpr uint8_t FRU_AREA_COUNT = 5;

// Common Header.
constexpr size_t FRU_HEADER_SIZE = 8;
constexpr size_t FRU_HEADER_VERSION = 0;
constexpr size_t FRU_HEADER_FIRST_OFFSET = 1;  // area n's offset byte is FRU_HEADER_FIRST_OFFSET + n
constexpr size_t FRU_HEADER_PAD = 6;
constexpr size_t FRU_HEADER_CHECKSUM = 7;
constexpr uint8_t FRU_FORMAT_VERSION = 1;
constexpr size_t FRU_UNIT = 8;             // offsets and area lengths count 8-byte units
constexpr size_t FRU_OFFSET_UNITS_MAX = 255;

// Info areas.
constexpr size_t FRU_AREA_VERSION = 0;
constexpr size_t FRU_AREA_LENGTH = 1;
constexpr size_t FRU_AREA_FIXED_START = 2;
constexpr int FRU_ENTRY_COUNT = 16;

// Type/length bytes.
constexpr uint8_t FRU_TYPE_MASK = 0xC0;
constexpr uint8_t FRU_LENGTH_MASK = 0x3F;
constexpr uint8_t FRU_TYPE_BINARY = 0x00;
constexpr uint8_t FRU_TYPE_BCD_PLUS = 0x40;
constexpr uint8_t FRU_TYPE_6BIT_ASCII = 0x80;
constexpr uint8_t FRU_TYPE_TEXT = 0xC0;
constexpr uint8_t FRU_END_OF_FIELDS = 0xC1;

// MultiRecord record header.
constexpr size_t FRU_RECORD_HEADER_SIZE = 5;
constexpr size_t FRU_RECORD_TYPE = 0;
constexpr size_t FRU_RECORD_FORMAT = 1;
constexpr size_t FRU_RECORD_LENGTH = 2;
constexpr uint8_t FRU_RECORD_END_OF_LIST = 0x80;
constexpr uint8_t FRU_RECORD_RESERVED_MASK = 0x70;
constexpr uint8_t FRU_RECORD_VERSION_MASK = 0x0F;
constexpr uint8_t FRU_RECORD_VERSION = 2;

// Where an info area's fixed fields lie and where its type/length fields
// begin. Each pair is (offset, size) of a fixed field, except the last, whose
// second byte has both top bits set: its first byte is the offset of the first
// type/length field, its low six bits the always-written entry index.
struct FruLayoutPair {
  uint8_t first;
  uint8_t second;
};
struct FruLayout {
  FruLayoutPair pairs[3];
};
extern const FruLayout FruAreaLayout[FRU_AREA_COUNT];

// The layout of an info area (1 to 3) read out of FruAreaLayout.
struct FruLayoutInfo {
  int fixedCount;            // fixed fields, entries 0 .. fixedCount - 1
  uint8_t firstFieldOffset;  // the first type/length field
  int alwaysWritten;         // entries up to this one are written even when empty
};
FruLayoutInfo GetFruLayoutInfo(uint8_t area);
bool IsInfoArea(uint8_t area);
// True for the fixed fields that a catalogue row can address (chassis type, date/time).
bool IsFixedField(uint8_t area, uint8_t entry);

// The area an info area is built from when the image has none (checksums included).
struct FruEmptyArea {
  const uint8_t* bytes;
  size_t size;
};
FruEmptyArea GetFruEmptyArea(uint8_t area);

// The zero checksum: the byte that makes the 8-bit sum of the range zero.
uint8_t FruChecksum(const uint8_t* bytes, uint16_t count);

bool IsCommonHeaderValid(const uint8_t* image);
// A valid Common Header, or a blank part (all 0x00 or all 0xFF): what a FRU
// device may hold before it is written. Anything else (a key, a document,
// another chip's data) is not FRU data.
bool HoldsFruDataOrBlank(const uint8_t* image, size_t size);
// Clears the first size bytes of the image and writes a header with no areas.
void RebuildCommonHeader(uint8_t* image, size_t size);
// The start of area n in bytes, or 0 when the header says it is absent.
size_t FruAreaStart(const uint8_t* image, uint8_t area);

// The Internal Use Area's size from the header; true on a size error.
bool GetInternalUseSize(const uint8_t* image, size_t* size);
// Walks the MultiRecord chain from start, never past imageSize; true on a data error.
bool GetMultiRecordSize(const uint8_t* image, size_t imageSize, size_t start, size_t* size);

// An info area located in an image of imageSize valid bytes.
struct FruInfoArea {
  size_t start;
  size_t readable;   // bytes that may be read from start: the area, cut at the image's end
  size_t fieldsEnd;  // where its fields must end: the checksum byte, or for a damaged area
                     // (whose checksum lies beyond the bytes read) the end of those bytes
  bool damaged;      // length byte 0, or the area reaches past the image's end
};
// False when the header names no such area.
bool LocateInfoArea(const uint8_t* image, size_t imageSize, uint8_t area, FruInfoArea* located);
// Where the fields of a sound area of the given length end: at its checksum byte.
inline size_t FruSoundAreaFieldsEnd(size_t length) { return length == 0 ? 0 : length - 1; }
