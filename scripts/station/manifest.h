// A station's manifest: one board per line, the BMC as TAGFORGE_BMC takes it,
// then the tool's tokens, comma-separated, RFC 4180 quoting for a token holding
// a comma or a quote. Lines starting with "#" and blank lines are skipped.
// The whole manifest is checked before any board runs.
#pragma once

#include <string>
#include <vector>

enum class BoardKind { Edit, Clear, Listing };

struct Board {
  int number = 0;             // the manifest line number: the board's name in jobs, records and logs
  std::string text;           // the line as written, for the failed manifest
  std::string bmc;            // as the manifest gives it, for TAGFORGE_BMC
  std::string bmcKey;         // the same BMC under any spelling (address or folded name, port)
  std::vector<std::string> tokens;
  int fruId = -1;
  BoardKind kind = BoardKind::Listing;
};

// The boards of the manifest; false with one line per problem in problems.
bool ReadManifest(const std::string& path, std::vector<Board>* boards, std::vector<std::string>* problems);

// The boards grouped by BMC in manifest order: a BMC's boards run one after another.
std::vector<std::vector<Board>> BoardsByBmc(const std::vector<Board>& boards);
