// The station's jobs: one shell command per BMC for GNU parallel, running that
// BMC's boards one after another; and the collector of what the jobs print.
#pragma once

#include <string>

// One line per job on standard output. With a marker (remote hosts), a job
// checks the marker in its TAGFORGE_JOURNAL before each board and sends the
// board's log and record back on its standard output.
int Jobs(const std::string& manifest, const std::string& tagforge, const std::string& outDir,
         const std::string& marker);

// Reads the jobs' output: writes the logs and records sent back into outDir and,
// when asked, prints one progress line per finished board on standard error.
int Collect(const std::string& manifest, const std::string& outDir, bool progress);
