// The FRU inventory as the tool reads and writes it: the area numbering and
// the fixed layout constants of the Common Header and the info areas.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr size_t FRU_IMAGE_MAX = 4096;

// Area numbering, in Common Header order.
constexpr uint8_t FRU_AREA_INTERNAL_USE = 0;
constexpr uint8_t FRU_AREA_CHASSIS = 1;
constexpr uint8_t FRU_AREA_BOARD = 2;
constexpr uint8_t FRU_AREA_PRODUCT = 3;
constexpr uint8_t FRU_AREA_MULTIRECORD = 4;
constexpr uint8_t FRU_AREA_COUNT = 5;
