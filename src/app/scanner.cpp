#include "app/scanner.h"

#include "platform/platform.h"
#include "runtime/print.h"
#include "runtime/format.h"
#include "runtime/text.h"

ScanResult ScanValue(const FieldEntry& row, const char* rest, char* value, ScanTrials trials) {
  const int lastTrial = trials == ScanTrials::Once ? 1 : 2;
  char label[SCANNER_BUFFER_SIZE];
  FormatString(label, sizeof(label), "%s (%s)", rest, row.Name);  // cut to the buffer when longer
  char previous[SCANNER_BUFFER_SIZE];
  char current[SCANNER_BUFFER_SIZE];
  FillBytes(previous, 0, sizeof(previous));
  for (int trial = 1; trial <= lastTrial; ++trial) {
    FillBytes(current, 0, sizeof(current));
    Print("Input %s with BAR code scanner [trial %d]:", label, trial);
    PlatformReadWord(current, sizeof(current));  // a longer word is cut to 255 bytes
    Print("\n");
    if (lastTrial == 1 && current[0] == '\0') {
      Print("[ERROR] Nothing was scanned\n");
      return ScanResult::Mismatch;
    }
    // Only two equal entries agree; an empty one (input ended) never does.
    if (trial == 2 && (current[0] == '\0' || !TextEqual(previous, current))) {
      Print("[ERROR] Input data are not matched\n");
      return ScanResult::Mismatch;
    }
    Print("\n");
    CopyBytes(previous, current, sizeof(previous));
  }
  CopyBytes(value, current, SCANNER_BUFFER_SIZE);
  Print("!!!%s\n", value);
  return ScanResult::Accepted;
}
