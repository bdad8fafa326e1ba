// Host-only: the run's report as one JSON object on one line, appended to the
// file TAGFORGE_REPORT names.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/platform.h"

// Notes when the run began (its report gives the time and the duration).
void HostNoteRunStart();

// The record of a run, without its line feed; bmc and tag (TAGFORGE_REPORT_TAG) may be null.
std::string HostReportRecord(const PlatformRunSummary& summary, const char* bmc, const char* tag,
                             const std::string& startedAt, double seconds);

// This run's record as it ends now: TAGFORGE_BMC, TAGFORGE_REPORT_TAG, the
// start and the duration so far.
std::string HostRunRecordLine(const PlatformRunSummary& summary);

// Tests: the write the record goes out with from now on (a full disk that takes
// part of it); null goes back to the real one.
void HostUseReportWrite(ssize_t (*write)(int fd, const void* bytes, size_t count));
