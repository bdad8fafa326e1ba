// Reading the SMBIOS structure table (from a 2.x entry point, else a 3.x one),
// never outside the bytes it was given.
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

// The 3.x (64-bit) entry point structure.
constexpr char SMBIOS_3_ANCHOR[] = "_SM3_";
constexpr size_t SMBIOS_3_ANCHOR_SIZE = 5;
constexpr size_t SMBIOS_3_ENTRY_MAJOR = 7;
constexpr size_t SMBIOS_3_ENTRY_MINOR = 8;
constexpr size_t SMBIOS_3_ENTRY_REVISION = 10;
constexpr size_t SMBIOS_3_ENTRY_TABLE_MAX_SIZE = 12;  // 32 bits
constexpr size_t SMBIOS_3_ENTRY_TABLE_ADDRESS = 16;   // 64 bits
constexpr size_t SMBIOS_3_ENTRY_MIN_SIZE = 24;

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
  uint32_t tableLength;   // 2.x: the table's length; 3.x: its maximum size
  uint64_t tableAddress;
  uint32_t structureLimit;  // 2.x: the structure count; 3.x: what the maximum size can hold
  bool is64;              // a 3.x entry point
};

// The 2.x entry point from the platform, else the 3.x one; false when there is
// neither ("_SM_" and "_SM3_" missing).
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
