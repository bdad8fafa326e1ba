// Finding one entry of an info area by its entry number.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The entry's data inside the area, whose fields lie before fieldsEnd (see
// FruInfoArea), or null when the entry does not exist or is not whole. A
// fixed field fills only *size; a type/length field fills *size and *type. No
// byte at or past fieldsEnd is ever read or returned as data.
const uint8_t* GetFruEntry(uint8_t area, int entry, const uint8_t* areaStart, size_t fieldsEnd, int32_t* size,
                           uint8_t* type);

// Where the type/length fields after entry 15 begin and end (at the 0xC1 or
// at the last whole field), for carrying them over in a rebuild. Zero length
// when the area has no more than 16 entries.
struct FruEntryTail {
  size_t offset;
  size_t length;
};
FruEntryTail GetFruEntryTail(uint8_t area, const uint8_t* areaStart, size_t fieldsEnd);
