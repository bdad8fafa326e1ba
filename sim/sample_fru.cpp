// The sample FRU that a new simulated BMC starts with: 512 bytes, as a small
// server board's FRU EEPROM might hold them.
#include <string>

#include "simulated_bmc.h"

namespace sim {

namespace {

using Bytes = std::vector<uint8_t>;

uint8_t Checksum(const Bytes& bytes) {
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  return static_cast<uint8_t>(-sum);
}

void AddText(Bytes& area, const std::string& text) {
  area.push_back(static_cast<uint8_t>(0xC0 | text.size()));
  area.insert(area.end(), text.begin(), text.end());
}

// Closes an info area: end marker, padding to 8 bytes, length byte, checksum.
Bytes Finish(Bytes area) {
  area.push_back(0xC1);
  while ((area.size() + 1) % 8 != 0) area.push_back(0x00);
  area[1] = static_cast<uint8_t>((area.size() + 1) / 8);
  area.push_back(Checksum(area));
  return area;
}

Bytes ChassisArea() {
  Bytes a{0x01, 0x00, 0x17};  // rack mount chassis
  AddText(a, "EXC-2U-0001");
  AddText(a, "EXC2U123456");
  AddText(a, "Example Chassis");
  return Finish(a);
}

Bytes BoardArea() {
  // Manufactured 2024-03-15 00:00: 10301 days after 1996-01-01.
  const uint32_t minutes = 10301u * 1440u;
  Bytes a{0x01, 0x00, 0x00, static_cast<uint8_t>(minutes), static_cast<uint8_t>(minutes >> 8),
          static_cast<uint8_t>(minutes >> 16)};
  AddText(a, "Example Corp");
  AddText(a, "EX-1000 Mainboard");
  AddText(a, "EXB2403150042");
  AddText(a, "EXB-1000-01");
  a.push_back(0x00);  // FRU file ID: empty binary
  AddText(a, "Rev A2");
  return Finish(a);
}

Bytes ProductArea() {
  Bytes a{0x01, 0x00, 0x00};
  AddText(a, "Example Corp");
  AddText(a, "EX-1000 Server");
  AddText(a, "EXS-1000-A");
  AddText(a, "1.0");
  AddText(a, "EXS2404020007");
  AddText(a, "");
  a.push_back(0x00);
  return Finish(a);
}

// One OEM record (type 0xC0) carrying the example enterprise number, last in the list.
Bytes MultiRecordArea() {
  Bytes data{0xD9, 0x7E, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05};
  Bytes header{0xC0, 0x82, static_cast<uint8_t>(data.size()), Checksum(data)};
  header.push_back(Checksum(header));
  header.insert(header.end(), data.begin(), data.end());
  return header;
}

}  // namespace

std::vector<uint8_t> SampleFruImage() {
  const Bytes areas[] = {ChassisArea(), BoardArea(), ProductArea(), MultiRecordArea()};
  Bytes image(8, 0x00);
  image[0] = 0x01;
  size_t unit = 1;
  const int headerByte[] = {2, 3, 4, 5};
  for (int i = 0; i < 4; ++i) {
    image[headerByte[i]] = static_cast<uint8_t>(unit);
    image.insert(image.end(), areas[i].begin(), areas[i].end());
    while (image.size() % 8 != 0) image.push_back(0x00);
    unit = image.size() / 8;
  }
  image[7] = Checksum(Bytes(image.begin(), image.begin() + 7));
  image.resize(512, 0x00);
  return image;
}

}  // namespace sim
