// Reading the SMBIOS 2.x structure table, never outside the bytes it was given.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Entry point structure.
constexpr size_t SMBIOS_ENTRY_ANCHOR = 0;  // "_SM_", 4 bytes
constexpr char SMBIOS_2_ANCHOR[] = "_SM_";
constexpr size_t SMBIOS_ANCHOR_SIZE = 4;
constexpr size_t SMBIOS_ENTRY_MAJOR = 6;
constexpr size_t SMBIOS_ENTRY_MINOR = 7;
constexpr size_t SMBIOS_ENTRY_REVISION = 10;
constexpr size_t SMBIOS_ENTRY_TABLE_LENGTH = 22;   // 16 bits
constexpr size_t SMBIOS_ENTRY_TABLE_ADDRESS = 24;  // 32 bits
constexpr size_t SMBIOS_ENTRY_STRUCTURE_COUNT = 28;  // 16 bits
constexpr size_t SMBIOS_ENTRY_MIN_SIZE = 30;

// Structure header.
constexpr size_t SMBIOS_STRUCTURE_TYPE = 0;
constexpr size_t SMBIOS_STRUCTURE_LENGTH = 1;
constexpr size_t SMBIOS_STRUCTURE_HANDLE = 2;  // 16 bits
constexpr size_t SMBIOS_STRUCTURE_HEADER_SIZE = 4;

constexpr uint16_t SMBIOS_NO_HANDLE = 0xFFFF;
constexpr uint8_t SMBIOS_TYPE_BASEBOARD = 2;

struct SmbiosEntryPoint {
  uint8_t major;
  uint8_t minor;
  uint8_t revision;
  uint16_t tableLength;
  uint32_t tableAddress;
  uint16_t structureCount;
};

// The 2.x entry point from the platform; false when there is none ("_SM_" missing).
bool FindSmbiosEntryPoint(SmbiosEntryPoint* entry);

struct SmbiosTable {
  const uint8_t* bytes;
  size_t size;
};

// String n (from 1) of the structure at *cursor, or null. When the string set
// ends first, *cursor moves to the next structure (with n = 0xFFFF this is the
// step to the next structure); past a broken end it moves to the table's end.
const char* GetSmbiosStringByNumber(const SmbiosTable& table, size_t* cursor, uint16_t n);

// The offset of the structure with the handle, and the handle of the one after
// it (0xFFFF when none follows inside the table); false when not found.
bool FindSmbiosStructureByHandle(const SmbiosTable& table, uint16_t handle, size_t* found, uint16_t* next);

// The length of a string that starts inside the table and ends at its NUL
// inside the table; false when the table ends first.
bool SmbiosStringLength(const SmbiosTable& table, const char* text, size_t* length);

// The product name: the second string of the first Baseboard Information
// structure, walked by handle in table order, as many structures as the entry
// point counts. Null when there is none.
const char* FindSmbiosBoardName(const SmbiosEntryPoint& entry, const SmbiosTable& table);
