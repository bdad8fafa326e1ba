// The state of one run, owned by the driver from start to exit.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "app/token_list.h"
#include "fru/fru_format.h"

constexpr int32_t RUN_FRU_ID_NOT_SET = -1;

struct RunState {
  TokenList tokens;
  int32_t fruId;
  bool clearRequest;
  // Set once a row has been given a value or an erase, or a scan did not
  // match; after the field options it chooses edit mode over listing mode.
  bool fieldsGiven;
  // Set when a field the operator asked for was not applied (a scan that did
  // not match, no board name found): the run goes on but ends with status 1.
  bool fieldMissed;
  uint16_t inventorySize;
  uint8_t image[FRU_IMAGE_MAX];
  uint8_t original[FRU_IMAGE_MAX];  // the image as read, kept through the editing
  uint8_t newImage[FRU_IMAGE_MAX];
  size_t newSize;
};
