// Test-side builders for SMBIOS 2.x tables, laid out by hand in each test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A structure: type, formatted length, handle, the formatted bytes after the
// header, then the strings, closed by one more NUL (two for none).
inline std::vector<uint8_t> SmbiosStructure(uint8_t type, uint16_t handle, std::vector<uint8_t> formatted,
                                            std::vector<std::string> strings) {
  std::vector<uint8_t> s{type, static_cast<uint8_t>(4 + formatted.size()), static_cast<uint8_t>(handle),
                         static_cast<uint8_t>(handle >> 8)};
  s.insert(s.end(), formatted.begin(), formatted.end());
  for (const std::string& text : strings) {
    s.insert(s.end(), text.begin(), text.end());
    s.push_back(0);
  }
  if (strings.empty()) s.push_back(0);
  s.push_back(0);
  return s;
}

// A "_SM3_" entry point for version 3.2 (revision 1) naming a table of at most maxSize bytes.
inline std::vector<uint8_t> Smbios3EntryPoint(uint32_t maxSize) {
  std::vector<uint8_t> e(24, 0);
  const char anchor[] = "_SM3_";
  for (int i = 0; i < 5; ++i) e[i] = static_cast<uint8_t>(anchor[i]);
  e[6] = 24;
  e[7] = 3;
  e[8] = 2;
  e[10] = 1;
  for (int i = 0; i < 4; ++i) e[12 + i] = static_cast<uint8_t>(maxSize >> (8 * i));
  e[17] = 0x10;  // the table at 0x1000
  return e;
}

// A "_SM_" entry point for version 2.8 naming a table of the given length and structure count.
inline std::vector<uint8_t> SmbiosEntryPoint(uint16_t tableLength, uint16_t count) {
  std::vector<uint8_t> e(31, 0);
  e[0] = '_';
  e[1] = 'S';
  e[2] = 'M';
  e[3] = '_';
  e[6] = 2;
  e[7] = 8;
  e[22] = static_cast<uint8_t>(tableLength);
  e[23] = static_cast<uint8_t>(tableLength >> 8);
  e[24] = 0x00;
  e[25] = 0x10;
  e[28] = static_cast<uint8_t>(count);
  e[29] = static_cast<uint8_t>(count >> 8);
  return e;
}
