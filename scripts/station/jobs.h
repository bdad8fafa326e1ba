// The station's jobs: one shell command per device for GNU parallel, running
// that device's boards one after another; and the collector of what the jobs print.
#pragma once

#include <string>
#include <vector>

// Which of the manifest's jobs: every one (a station without other hosts),
// those that may go to other hosts (the BMCs on the network), or those that
// stay on the station (the EEPROMs in its fixture).
enum class JobSet { All, Network, Fixture };

// What the station does with every board: program it as its line says, or
// (with the tool's option of the same name) check it against its line, or
// show what programming it would change.
enum class StationMode { Program, Verify, DryRun };

// The tool's option for the mode ("" when programming).
const char* ModeOption(StationMode mode);

// One line per job of the set on standard output. With a marker (remote hosts),
// a network job checks the marker in its TAGFORGE_JOURNAL before each board and
// sends the board's log and record back on its standard output; a fixture job
// never needs one.
int Jobs(const std::string& manifest, const std::string& tagforge, const std::string& outDir, const std::string& marker,
         JobSet set, StationMode mode);

// Reads the jobs' output from each of inputs (one per parallel; standard input
// when none is named) until every one ends: writes the logs and records sent
// back into outDir and, when asked, prints one progress line per finished
// board on standard error.
int Collect(const std::string& manifest, const std::string& outDir, bool progress, StationMode mode,
            const std::vector<std::string>& inputs);
