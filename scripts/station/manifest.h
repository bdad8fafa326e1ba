// A station's manifest: one board per line, its device as TAGFORGE_BMC takes it
// (a BMC on the network, or an EEPROM in the station's programming fixture),
// then the tool's tokens, comma-separated, RFC 4180 quoting for a token holding
// a comma or a quote. Lines starting with "#" and blank lines are skipped.
// The whole manifest is checked before any board runs.
#pragma once

#include <string>
#include <vector>

enum class BoardKind { Edit, Clear, Listing };

struct Board {
  int number = 0;             // the rack manifest's line number: the board's name in jobs, records and logs
  std::string origin;         // the rack manifest that number counts in (a rerun keeps the rack's numbers)
  int line = 0;               // the line in this manifest, for its problems
  std::string text;           // the line as written, for the failed manifest
  std::string bmc;            // the device as the manifest gives it, for TAGFORGE_BMC
  std::string bmcKey;         // the same device under any spelling (address or folded name, port; an EEPROM's real path)
  bool fixture = false;       // an EEPROM in the station's fixture: its job runs on the station itself, never on another host
  std::vector<std::string> tokens;
  int fruId = -1;
  BoardKind kind = BoardKind::Listing;
  std::vector<std::string> erased;  // the keywords whose empty value erases their field
};

// What the check refuses beyond what no run can take.
struct ManifestRules {
  // An empty value erases its field: a script whose serial-number variable came
  // out empty would wipe a rack. Refused unless erasing is asked for.
  bool refuseErase = false;
  // Each line's tokens through the tool's own checks (what --check runs); the
  // jobs and the summary read a manifest that passed them already.
  bool toolChecks = false;
};

// The boards of the manifest; false with one line per problem in problems.
bool ReadManifest(const std::string& path, std::vector<Board>* boards, std::vector<std::string>* problems,
                  const ManifestRules& rules = {});

// The comment a failed manifest puts before each of its lines, so that a rerun
// keeps the rack's numbering: "# line 6 of rack7.csv".
std::string OriginComment(const Board& board);

// The boards grouped by device in manifest order: a device's boards run one after another.
std::vector<std::vector<Board>> BoardsByBmc(const std::vector<Board>& boards);
