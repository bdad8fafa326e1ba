// The station's helper: checks a manifest of boards, turns it into one
// command per BMC for GNU parallel, collects what the jobs print, and turns
// the run records into a summary.
//
//   station_tool check MANIFEST                     status 2 and one line per problem
//   station_tool jobs MANIFEST TAGFORGE OUTDIR      one shell command per device, all run here
//   station_tool jobs MANIFEST TAGFORGE OUTDIR MARKER  the BMCs' commands, for other hosts
//   station_tool fixture-jobs MANIFEST TAGFORGE OUTDIR  the fixture's EEPROMs' commands, run here
//   station_tool collect MANIFEST OUTDIR progress|quiet [INPUT...]  the jobs' output to files and progress
//   station_tool summary RESULTS MANIFEST FAILED LOGDIR  the table; FAILED gets the failed lines
//
// A first argument --verify or --dry-run runs every board with that option of the
// tool and judges it so; check --program refuses what only programming harms (an
// empty value, which erases its field, unless STATION_ALLOW_ERASE=1).
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "jobs.h"
#include "manifest.h"
#include "summary.h"

namespace {

int Check(const std::string& manifest, StationMode mode) {
  std::vector<Board> boards;
  std::vector<std::string> problems;
  ManifestRules rules;
  const char* allowErase = getenv("STATION_ALLOW_ERASE");
  rules.refuseErase = mode == StationMode::Program && (allowErase == nullptr || std::string(allowErase) != "1");
  rules.toolChecks = true;
  if (ReadManifest(manifest, &boards, &problems, rules)) return 0;
  for (const std::string& problem : problems) std::cerr << problem << "\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  StationMode mode = StationMode::Program;
  if (!args.empty() && args[0] == ModeOption(StationMode::Verify)) mode = StationMode::Verify;
  if (!args.empty() && args[0] == ModeOption(StationMode::DryRun)) mode = StationMode::DryRun;
  if (mode != StationMode::Program) args.erase(args.begin());
  const std::string command = args.empty() ? "" : args[0];
  if (command == "check" && args.size() == 2) return Check(args[1], mode);
  if (command == "jobs" && args.size() == 4) return Jobs(args[1], args[2], args[3], "", JobSet::All, mode);
  if (command == "jobs" && args.size() == 5) return Jobs(args[1], args[2], args[3], args[4], JobSet::Network, mode);
  if (command == "fixture-jobs" && args.size() == 4) return Jobs(args[1], args[2], args[3], "", JobSet::Fixture, mode);
  if (command == "collect" && args.size() >= 4) {
    return Collect(args[1], args[2], args[3] == "progress", mode, std::vector<std::string>(args.begin() + 4, args.end()));
  }
  if (command == "summary" && args.size() == 5) return Summary(args[1], args[2], args[3], args[4], mode);
  std::cerr << "usage: station_tool [--verify|--dry-run] check MANIFEST | jobs MANIFEST TAGFORGE OUTDIR [MARKER] |"
               " fixture-jobs MANIFEST TAGFORGE OUTDIR | collect MANIFEST OUTDIR progress|quiet [INPUT...] |"
               " summary RESULTS MANIFEST FAILED LOGDIR\n";
  return 2;
}
