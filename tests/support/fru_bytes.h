// Test-side builders for FRU images: fields are laid out by hand in each
// test; these only concatenate, pad and fix the checksums.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline uint8_t ZeroChecksum(const Bytes& bytes, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return static_cast<uint8_t>(-sum);
}

// A text type/length field.
inline Bytes Text(const std::string& text) {
  Bytes b{static_cast<uint8_t>(0xC0 | text.size())};
  b.insert(b.end(), text.begin(), text.end());
  return b;
}

// An info area: version 1, the length byte, the given bytes, 0xC1, zero
// padding to a multiple of 8 (or to units * 8) and the checksum.
inline Bytes InfoArea(std::initializer_list<Bytes> parts, size_t units = 0) {
  Bytes area{0x01, 0x00};
  for (const Bytes& part : parts) area.insert(area.end(), part.begin(), part.end());
  area.push_back(0xC1);
  size_t size = units != 0 ? units * 8 : (area.size() + 1 + 7) / 8 * 8;
  area.resize(size, 0x00);
  area[1] = static_cast<uint8_t>(size / 8);
  area[size - 1] = ZeroChecksum(area, size - 1);
  return area;
}

// An image of the given size: a header with the given offsets (in 8-byte
// units, 0 absent) and each area's bytes placed at its offset.
struct Placed {
  int unit;
  Bytes bytes;
};
inline Bytes Image(size_t size, std::initializer_list<int> offsets, std::initializer_list<Placed> areas) {
  Bytes image(size, 0x00);
  image[0] = 0x01;
  int i = 1;
  for (int offset : offsets) image[i++] = static_cast<uint8_t>(offset);
  image[7] = ZeroChecksum(image, 7);
  for (const Placed& p : areas) {
    for (size_t j = 0; j < p.bytes.size(); ++j) image.at(p.unit * 8 + j) = p.bytes[j];
  }
  return image;
}


// A MultiRecord Area of exactly total bytes (at least 5): OEM records of up
// to 250 data bytes, with their checksums, the last one ending the list. The
// data bytes are fill, fill + step, fill + 2 * step, ...: a step makes every
// stretch of the area differ from the same area moved a few bytes.
inline Bytes MultiRecords(size_t total, uint8_t fill = 0x5A, uint8_t step = 0) {
  Bytes area;
  while (area.size() < total) {
    size_t left = total - area.size() - 5;
    size_t length = left > 250 ? (left - 250 < 5 ? 240 : 250) : left;
    Bytes data(length, fill);
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(fill + i * step);
    Bytes header{0xC0, static_cast<uint8_t>(length == left ? 0x82 : 0x02), static_cast<uint8_t>(length),
                 ZeroChecksum(data, data.size()), 0};
    header[4] = ZeroChecksum(header, 4);
    area.insert(area.end(), header.begin(), header.end());
    area.insert(area.end(), data.begin(), data.end());
  }
  return area;
}

// A 512-byte FRU with chassis, board and product areas, the image the
// end-to-end tests start from.
inline Bytes StartingFru512() {
  const Bytes date{0x00, 0x20, 0x57, 0xE2};
  return Image(512, {0, 1, 3, 6, 0},
               {{1, InfoArea({{0x17}, Text(""), Text("CS-1"), Text("")})},
                {3, InfoArea({date, Text("Acme"), Text(""), Text("SN-OLD"), Text(""), {0x00}})},
                {6, InfoArea({{0x00}, Text("Acme"), Text("Box"), Text(""), Text(""), Text(""), Text(""), {0x00}})}});
}
