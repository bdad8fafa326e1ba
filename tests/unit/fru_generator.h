// The generator of FRU images and values that the property tests share:
// seeded, so every run sees the same cases. Images hold the three info areas
// and a MultiRecord Area in a shuffled order, some absent, with gaps.
#pragma once

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "fields/field_entry.h"
#include "fru/fru_format.h"
#include "fru_bytes.h"

class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  bool Chance(int percent) { return Between(1, 100) <= percent; }

  // Text of 0 or 2 to 12 characters: a one-character text field would read as the end marker.
  std::string Word() {
    int length = Chance(20) ? 0 : Between(2, 12);
    std::string word;
    for (int i = 0; i < length; ++i) word += static_cast<char>(Between('A', 'Z'));
    return word;
  }

  // A value of any type over the whole length range: text, binary, 6-bit
  // packed, BCD plus, 0 to 63 bytes (no one-byte text, which reads as 0xC1).
  struct Value {
    uint8_t type;
    std::string bytes;
  };
  Value AnyValue() {
    const uint8_t types[] = {0xC0, 0x00, 0x80, 0x40};
    const uint8_t type = types[Between(0, 3)];
    int length = Chance(15) ? 0 : Chance(40) ? Between(32, 63) : Between(2, 31);
    if (type != 0xC0 && Chance(10)) length = 1;
    std::string bytes;
    for (int i = 0; i < length; ++i) {
      if (type == 0xC0) bytes += static_cast<char>(Between('A', 'Z'));
      else if (type == 0x40) bytes += static_cast<char>(Between(0, 9) << 4 | Between(0, 0x0C));  // digits, space, - and .
      else bytes += static_cast<char>(Between(0, 255));
    }
    return Value{type, bytes};
  }
  Bytes Field(const Value& v) {
    Bytes b{static_cast<uint8_t>(v.type | v.bytes.size())};
    b.insert(b.end(), v.bytes.begin(), v.bytes.end());
    return b;
  }

  Bytes Area(uint8_t area) {
    const int fields = area == FRU_AREA_CHASSIS ? 2 : area == FRU_AREA_BOARD ? 5 : 7;
    Bytes fixed = area == FRU_AREA_CHASSIS ? Bytes{static_cast<uint8_t>(Between(1, 36))}
                  : area == FRU_AREA_BOARD ? Bytes{0x00, static_cast<uint8_t>(Between(0, 255)), 0x12, 0x34}
                                           : Bytes{0x00};
    std::vector<Bytes> parts{fixed};
    int custom = Between(0, 3);
    for (int i = 0; i < fields + custom; ++i) parts.push_back(Field(AnyValue()));
    Bytes area_{0x01, 0x00};
    for (const Bytes& p : parts) area_.insert(area_.end(), p.begin(), p.end());
    area_.push_back(0xC1);
    size_t size = (area_.size() + 1 + 7) / 8 * 8;
    area_.resize(size, 0);
    area_[1] = static_cast<uint8_t>(size / 8);
    area_[size - 1] = ZeroChecksum(area_, size - 1);
    return area_;
  }

  // Areas in a shuffled order, some absent, with gaps between them.
  Bytes Image(size_t inventory) {
    Bytes image(inventory, 0);
    image[0] = 0x01;
    std::vector<uint8_t> order{FRU_AREA_CHASSIS, FRU_AREA_BOARD, FRU_AREA_PRODUCT, FRU_AREA_MULTIRECORD};
    std::shuffle(order.begin(), order.end(), random_);
    size_t unit = 1 + static_cast<size_t>(Between(0, 2));
    for (uint8_t n : order) {
      if (Chance(25)) continue;
      Bytes bytes = n == FRU_AREA_MULTIRECORD ? MultiRecords(static_cast<size_t>(Between(6, 60)), 0x33) : Area(n);
      if (unit * 8 + bytes.size() > inventory) break;
      image[1 + n] = static_cast<uint8_t>(unit);
      std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<long>(unit * 8));
      unit += (bytes.size() + 7) / 8 + static_cast<size_t>(Between(0, 2));
    }
    image[7] = ZeroChecksum(image, 7);
    return image;
  }

  // Gives a row picked at random a value its field can hold; returns its area.
  uint8_t GiveAnyRowAValue(FieldEntry* rows, int rowCount) {
    FieldEntry& row = rows[Between(0, rowCount - 1)];
    if (row.Area == FRU_AREA_CHASSIS && row.Entry == 0) {
      row.Size = 1;
      row.Data[0] = static_cast<uint8_t>(Between(0, 36));
    } else if (row.Area == FRU_AREA_BOARD && row.Entry == 1) {
      row.Size = 3;
      for (int i = 0; i < 3; ++i) row.Data[i] = static_cast<uint8_t>(Between(0, 255));
    } else {
      const Value v = AnyValue();
      row.Size = static_cast<int32_t>(v.bytes.size());
      row.Type = v.type;
      std::copy(v.bytes.begin(), v.bytes.end(), row.Data);
    }
    return row.Area;
  }

  std::mt19937 random_;
};
