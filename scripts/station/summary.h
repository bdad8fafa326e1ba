// The station's summary: each manifest line joined to its run record by the
// record's tag (the line number), one row per board, the totals, and a
// failed manifest of the lines that did not succeed.
#pragma once

#include <string>
#include <vector>

#include "jobs.h"

// The line of a failed run's errors an operator needs first.
std::string MostTellingError(const std::vector<std::string>& errors);

// Prints the table and totals; 0 when every board succeeded, 1 when one did not, 2 for a bad manifest.
// FAILED gets each line that did not succeed, after a comment with its rack line number.
int Summary(const std::string& results, const std::string& manifest, const std::string& failedPath,
            const std::string& logDir, StationMode mode);
