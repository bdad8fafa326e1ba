// The state of one run, owned by the driver from start to exit.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "app/command_line.h"
#include "app/token_list.h"
#include "bmc/fru_access.h"
#include "bmc/fru_journal.h"
#include "bmc/fru_storage.h"
#include "bmc/fru_update.h"
#include "fields/catalogue.h"
#include "fru/fru_format.h"
#include "fru/fru_lint.h"
#include "fru/image_rebuild.h"

constexpr int32_t RUN_FRU_ID_NOT_SET = -1;

// How a run reaches and writes its FRU when a benchmark asks for other than the defaults.
struct RunOptions {
  FruAccessOptions access;
  FruWriteOptions write;
};

// A value as a listing shows it, in a verify's line or a dry run's change.
constexpr size_t RUN_VALUE_TEXT_MAX = 256;

// One field a verify compared: what the FRU holds and what was expected.
struct VerifyLine {
  const char* keyword;
  const char* name;
  bool ok;
  char found[RUN_VALUE_TEXT_MAX];
  char expected[RUN_VALUE_TEXT_MAX];
};
// Every field, and the blank FRU that ClearFru=1 asks for.
constexpr int RUN_VERIFY_LINES_MAX = FIELD_COUNT + 1;

struct RunState {
  RunOptions options;
  RunMode mode;
  FruAccess access;  // the way to the FRU, opened when the BMC's part of the run begins
  TokenList tokens;
  int32_t fruId;
  bool clearRequest;
  // Set once a row has been given a value or an erase, or a scan did not
  // match; after the field options it chooses edit mode over listing mode.
  bool fieldsGiven;
  // The rows the operator asked for that were not applied (a scan that did
  // not match and every named row after it, no board name found): the run
  // goes on, names each after "done." and ends with status 1.
  const FieldEntry* missed[FIELD_COUNT];
  int missedCount;
  // BDT without a value under --verify: any date but the unspecified one is
  // expected (the clock's date would never match a board stamped earlier).
  bool dateExpectedSet;
  VerifyLine verify[RUN_VERIFY_LINES_MAX];
  int verifyCount;
  // The fields as the FRU holds them (a verify's "found", a dry run's
  // before) and as a dry run's write would leave them.
  FieldCatalogue held;
  FieldCatalogue after;
  uint16_t inventorySize;
  uint8_t image[FRU_IMAGE_MAX];
  uint8_t original[FRU_IMAGE_MAX];  // the image as read, kept through the editing
  uint8_t newImage[FRU_IMAGE_MAX];  // also the zeros of a clear
  size_t newSize;
  uint8_t readBack[FRU_IMAGE_MAX];  // what a write reads back to check it
  FruTouched touched;               // the FRU offsets a write sent bytes to
  FruRebuildWork rebuild;
  // The lint before a write: the FRU as read, and as the write would leave it
  // (afterWrite: the new image, then the old bytes beyond it).
  uint8_t afterWrite[FRU_IMAGE_MAX];
  FruLintReport lintRead;
  FruLintReport lintAfter;
  // What the run said of the FRU's soundness (the listing's findings, the
  // edit's warnings or the errors that refused it), for the record.
  FruLintReport lint;
  bool linted;
  FruJournal journal;
  // For the run's report: what the FRU holds as the run ends, as far as the
  // run knows (null when it never read it), and whether it wrote.
  const uint8_t* finalImage;
  size_t finalSize;
  const char* fieldsFrom;  // how the run knows finalImage (the report's fields_from)
  bool writeAttempted;
  bool deviceRefused;  // the platform found no device to reach the FRU through
};

// Starts a run in this process: an empty arena, the catalogue as built, no
// traces, and, when given, a run state with nothing set. The driver, the tests
// and the fuzz targets all start here; the way to the FRU is located afresh
// when the run first needs it (OpenFruAccess).
void StartRun(RunState* run);
