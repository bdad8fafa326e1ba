#include "manifest.h"

#include "platform/host/host_resolve.h"
#include "platform/host/host_token_check.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

namespace {

constexpr const char* MANIFEST_BOM = "\xEF\xBB\xBF";
constexpr const char* LAN_PREFIX = "lan:";
constexpr const char* LAN_DEFAULT_PORT = "623";
constexpr const char* EEPROM_PREFIX = "eeprom:";
constexpr const char* DEVICE_FORMS =
    "give lan:HOST or lan:HOST:PORT (IPv6 as lan:[fd00::17]:623), or eeprom:PATH for a card's EEPROM in the station's "
    "programming fixture";
constexpr int FRU_ID_MAX = 255;
// Far beyond any real line; a longer one is not a manifest (and would pass the
// shell's command-line limit in its job).
constexpr size_t LINE_MAX_BYTES = 4096;
constexpr const char* ORIGIN_HEAD = "# line ";
constexpr const char* ORIGIN_OF = " of ";

std::string Folded(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The tool finds a keyword anywhere in a token's head (up to and including
// its "="), without case: the station reads tokens the same way.
bool HeadHolds(const std::string& token, const std::string& keyword) {
  const size_t equals = token.find('=');
  const std::string head = equals == std::string::npos ? token : token.substr(0, equals + 1);
  return Folded(head).find(keyword) != std::string::npos;
}

// One line's fields; false when a quoted field is not closed.
bool SplitCsv(const std::string& line, std::vector<std::string>* fields) {
  fields->clear();
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      field += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields->push_back(field);
      field.clear();
    } else {
      field += c;
    }
  }
  fields->push_back(field);
  return !quoted;
}

bool ValidPort(const std::string& port) {
  return !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos &&
         std::stoi(port) >= 1 && std::stoi(port) <= 65535;
}

// The address as one text for every spelling of it ("10.1" and "10.0.0.1"), or "" for a name.
std::string AddressText(const std::string& host, int family) {
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_family = family;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return "";
  char text[INET6_ADDRSTRLEN + 16] = "";
  if (found->ai_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof(text));
  } else {
    const auto* v6 = reinterpret_cast<sockaddr_in6*>(found->ai_addr);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof(text));
    if (v6->sin6_scope_id != 0) snprintf(text + strlen(text), 16, "%%%u", v6->sin6_scope_id);
  }
  freeaddrinfo(found);
  return text;
}

bool HostName(const std::string& host) {
  return !host.empty() && host[0] != '-' &&
         host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_") == std::string::npos;
}

// A rack names each BMC's host on several lines: one lookup per name, all of
// a manifest's names looked up at once before its lines are checked (a name
// nobody answers for costs a resolver's timeout, not one per line).
std::map<std::string, std::string> gResolved;
constexpr size_t LOOKUPS_AT_ONCE = 8;

std::string ResolvedOnce(const std::string& name) {
  const auto [at, added] = gResolved.emplace(Folded(name), "");
  if (added) at->second = ResolvedAddress(name);
  return at->second;
}

// The host name of a line's lan:NAME[:PORT] device; "" for an address or any other device.
std::string LanName(const std::string& line) {
  if (line.rfind(LAN_PREFIX, 0) != 0) return "";
  const std::string device = line.substr(0, line.find(','));
  const std::string rest = device.substr(std::string(LAN_PREFIX).size());
  if (rest.empty() || rest[0] == '[' || std::count(rest.begin(), rest.end(), ':') > 1) return "";
  const std::string host = rest.substr(0, rest.find(':'));
  return HostName(host) && AddressText(host, AF_UNSPEC).empty() ? host : "";
}

void LookUpNames(const std::vector<std::string>& lines) {
  std::vector<std::string> names;
  for (const std::string& line : lines) {
    const std::string name = LanName(line);
    if (!name.empty() && gResolved.emplace(Folded(name), "").second) names.push_back(name);
  }
  for (size_t first = 0; first < names.size(); first += LOOKUPS_AT_ONCE) {
    const size_t end = std::min(names.size(), first + LOOKUPS_AT_ONCE);
    std::vector<std::string> found(end - first);
    std::vector<std::thread> lookups;
    for (size_t i = first; i < end; ++i) {
      lookups.emplace_back([&found, &names, first, i] { found[i - first] = ResolvedAddress(names[i]); });
    }
    for (std::thread& lookup : lookups) lookup.join();
    for (size_t i = first; i < end; ++i) gResolved[Folded(names[i])] = found[i - first];
  }
}

// Splits lan:HOST[:PORT] or lan:[IPV6][:PORT]; "" or the problem.
std::string SplitLan(const std::string& bmc, std::string* host, std::string* port, bool* bracketed) {
  const std::string rest = bmc.substr(std::string(LAN_PREFIX).size());
  *port = LAN_DEFAULT_PORT;
  *bracketed = !rest.empty() && rest[0] == '[';
  size_t portColon = std::string::npos;
  if (*bracketed) {
    const size_t close = rest.find(']');
    if (close == std::string::npos) return "\"" + bmc + "\" has no \"]\" after its IPv6 address";
    *host = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') return "\"" + bmc + "\" is not lan:[IPV6] or lan:[IPV6]:PORT";
      portColon = close + 1;
    }
  } else {
    const size_t colons = static_cast<size_t>(std::count(rest.begin(), rest.end(), ':'));
    if (colons > 1) return "\"" + bmc + "\" holds an IPv6 address without brackets: write lan:[ADDRESS] or lan:[ADDRESS]:PORT";
    portColon = rest.find(':');
    *host = rest.substr(0, portColon);
  }
  if (portColon != std::string::npos) {
    *port = rest.substr(portColon + 1);
    if (!ValidPort(*port)) return "\"" + bmc + "\" needs a port from 1 to 65535";
  }
  if (host->empty()) return "\"" + bmc + "\" names no host";
  return "";
}

// A LAN BMC's key ("address/port" or "name/port"); "" and the problem when it is not lan:HOST[:PORT].
std::string LanKey(const std::string& bmc, std::string* problem) {
  std::string host, port;
  bool bracketed = false;
  *problem = SplitLan(bmc, &host, &port, &bracketed);
  if (!problem->empty()) return "";
  const std::string address = AddressText(host, bracketed ? AF_INET6 : AF_UNSPEC);
  if (!address.empty()) return address + "/" + std::to_string(std::stoi(port));
  if (bracketed) *problem = "\"" + bmc + "\": only an IPv6 address goes in brackets";
  else if (!HostName(host)) *problem = "\"" + bmc + "\" names neither an address nor a host name";
  else if (const std::string resolved = ResolvedOnce(host); !resolved.empty()) return resolved + "/" + std::to_string(std::stoi(port));
  else return Folded(host) + "/" + std::to_string(std::stoi(port));
  return "";
}

// An EEPROM's key, "eeprom:" and its real path: a symbolic link or another
// spelling of the path is the same chip. A relative path is refused: from
// another folder (a job started elsewhere, a rerun of failed.csv) it would
// name another chip.
std::string EepromKey(const std::string& device, std::string* problem) {
  const std::filesystem::path path = device.substr(std::string(EEPROM_PREFIX).size());
  if (!path.is_absolute()) {
    *problem = "\"" + device + "\" needs an absolute path (eeprom:/sys/bus/i2c/devices/N-00AA/eeprom)";
    return "";
  }
  std::error_code error;
  const std::filesystem::path real = std::filesystem::weakly_canonical(path, error);
  return EEPROM_PREFIX + (error ? path.lexically_normal() : real).string();
}

// The device's key, the same under any spelling of it; "" and the problem when the station cannot run it.
std::string DeviceKey(const std::string& device, std::string* problem) {
  if (device.rfind(LAN_PREFIX, 0) == 0) return LanKey(device, problem);
  if (device.rfind(EEPROM_PREFIX, 0) == 0) return EepromKey(device, problem);
  *problem = "\"" + device + "\" is neither a BMC on the network nor an EEPROM: " + DEVICE_FORMS;
  return "";
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool BlankOnly(const std::string& value) { return value.find_first_not_of(" \t") == std::string::npos; }

// The bytes a value gives its field: after a type prefix ("0xC0,"), if any.
std::string DataOf(const std::string& value) {
  const size_t comma = value.find(',');
  if (comma == std::string::npos || comma < 3 || comma > 4 || (value[0] != '0' || (value[1] != 'x' && value[1] != 'X'))) {
    return value;
  }
  const std::string type = value.substr(2, comma - 2);
  return type.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos ? value.substr(comma + 1) : value;
}

// ClearFru= with nothing after it clears the whole FRU, as ClearFru=1 does:
// the same empty variable that erases a field would wipe every field.
bool IsEmptyClear(const std::string& token) {
  return HeadHolds(token, "clearfru=") && BlankOnly(token.substr(token.find('=') + 1));
}

bool Field(const std::string& token);

// A value the tool would take but no rack means: blanks a spreadsheet left
// around it, or (for a field) nothing at all, which erases the field.
std::string ValueProblem(const std::string& token, const ManifestRules& rules) {
  const std::string value = token.substr(token.find('=') + 1);
  if (IsEmptyClear(token)) {
    if (!rules.refuseErase) return "";
    return "\"" + token + "\" has an empty value, which clears the whole FRU: give ClearFru=1, or set "
           "STATION_ALLOW_ERASE=1 to clear it this way on purpose";
  }
  if (BlankOnly(DataOf(value))) {
    if (!Field(token) || !rules.refuseErase) return "";
    return "\"" + token + "\" has an empty value, which erases the field: give a value, or set STATION_ALLOW_ERASE=1 "
           "to erase it on purpose";
  }
  if (IsBlank(value.front()) || IsBlank(value.back())) {
    return "\"" + token + "\": the value begins or ends with a blank (a spreadsheet's padding?): remove it";
  }
  return "";
}

bool Field(const std::string& token) {
  if (token.find('=') == std::string::npos) return Folded(token) == "bdt";
  for (const char* option : {"file=", "clearfru=", "frusize=", "id="}) {
    if (HeadHolds(token, option)) return false;
  }
  return true;
}

// A token the station cannot run; "" when it can.
std::string TokenProblem(const std::string& token, const ManifestRules& rules) {
  if (token.empty()) return "an empty token (a comma too many?)";
  if (HeadHolds(token, "file=")) return "\"" + token + "\" reads a parameter file, which a station does not: put its tokens on the line";
  if (token.find('=') != std::string::npos) return ValueProblem(token, rules);
  if (token[0] == '-' && Folded(token) != "-v") {
    return "\"" + token + "\" is not a board's token: the station's own options go before the manifest "
           "(station.sh --verify MANIFEST)";
  }
  const std::string folded = Folded(token);
  if (folded == "-v" || folded == "bdt") return "";
  if (folded == "bpn") {
    return "\"BPN\" alone would stamp the station's own board name (from the station's SMBIOS) into the board: give BPN=NAME";
  }
  return "\"" + token + "\" has no \"=\": it would wait for a barcode scanner, and a station has none: give " + token + "=VALUE";
}

BoardKind Kind(const std::vector<std::string>& tokens) {
  bool field = false;
  for (const std::string& token : tokens) {
    // ClearFru=0 reads as "do not clear" to the tool.
    if (HeadHolds(token, "clearfru=") && token.substr(token.find('=') + 1) != "0") return BoardKind::Clear;
    field = field || Field(token);
  }
  return field ? BoardKind::Edit : BoardKind::Listing;
}

// The one ID=N of a line; -1 with a problem when there is none, more than one, or a bad one.
int FruId(const std::vector<std::string>& tokens, std::string* problem) {
  int id = -1, count = 0;
  for (const std::string& token : tokens) {
    if (!HeadHolds(token, "id=")) continue;
    ++count;
    const std::string value = token.substr(token.find('=') + 1);
    const bool number = !value.empty() && value.size() <= 3 && value.find_first_not_of("0123456789") == std::string::npos;
    if (number && std::stoi(value) <= FRU_ID_MAX) id = std::stoi(value);
    else *problem = "\"" + token + "\" needs a FRU ID from 0 to 255";
  }
  if (count == 0) *problem = "no ID=N token (the FRU ID, 0 to 255)";
  if (count > 1) *problem = "more than one ID= token";
  return problem->empty() ? id : -1;
}

// Adds the line's board, and true, unless its quoting is broken.
bool CheckLine(int number, const std::string& text, const ManifestRules& rules, std::vector<Board>* boards,
               std::vector<std::string>* problems) {
  const std::string where = "station: manifest line " + std::to_string(number) + ": ";
  if (text.size() > LINE_MAX_BYTES) {
    problems->push_back(where + "the line is longer than " + std::to_string(LINE_MAX_BYTES) + " bytes");
    return false;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      char hex[8];
      snprintf(hex, sizeof(hex), "0x%02X", c);
      // A NUL would reach the tool as the two characters "\0", a tab or an escape as themselves: never what the label says.
      problems->push_back(where + "a control byte (" + hex + ") at column " + std::to_string(i + 1) +
                          ": a manifest holds printable text only");
      return false;
    }
  }
  const size_t problemsBefore = problems->size();
  std::vector<std::string> fields;
  if (!SplitCsv(text, &fields)) {
    problems->push_back(where + "a quote is not closed");
    return false;
  }
  Board board;
  board.number = number;
  board.line = number;
  board.text = text;
  board.bmc = fields[0];
  board.tokens.assign(fields.begin() + 1, fields.end());
  board.fixture = board.bmc.rfind(EEPROM_PREFIX, 0) == 0;
  std::string problem;
  board.bmcKey = DeviceKey(board.bmc, &problem);
  if (!problem.empty()) problems->push_back(where + problem);
  for (const std::string& token : board.tokens) {
    problem = TokenProblem(token, rules);
    if (!problem.empty()) problems->push_back(where + problem);
    if (token.find('=') != std::string::npos &&
        (IsEmptyClear(token) || (Field(token) && BlankOnly(DataOf(token.substr(token.find('=') + 1)))))) {
      board.erased.push_back(token.substr(0, token.find('=')));
    }
  }
  problem.clear();
  board.fruId = FruId(board.tokens, &problem);
  if (board.fixture && board.fruId > 0) {
    problem = "an EEPROM holds one FRU: give ID=0, not ID=" + std::to_string(board.fruId);
    board.fruId = -1;
  }
  if (!problem.empty()) problems->push_back(where + problem);
  board.kind = Kind(board.tokens);
  // The tool's own word on the tokens, once the station has none of its own:
  // a bad date, an unknown keyword or a value too long fails here, not on the board.
  if (rules.toolChecks && problems->size() == problemsBefore) {
    for (const std::string& line : HostCheckTokens(board.tokens).errorLines) problems->push_back(where + line);
  }
  boards->push_back(board);
  return true;
}

// A second line on the same device and FRU ID would write over the first one's work.
void CheckDuplicate(const Board& board, int line, std::map<std::string, int>* seen, std::vector<std::string>* problems) {
  if (board.bmcKey.empty() || board.fruId < 0) return;
  const auto [first, added] = seen->emplace(board.bmcKey + "#" + std::to_string(board.fruId), line);
  if (!added) {
    problems->push_back("station: manifest line " + std::to_string(line) + ": the same " +
                        (board.fixture ? "EEPROM" : "BMC and FRU ID") + " as line " + std::to_string(first->second));
  }
}

bool Blank(const std::string& line) { return line.find_first_not_of(" \t") == std::string::npos; }

// "# line N of NAME" before a line: the number and rack it had in the rack's
// own manifest (a failed manifest carries them); false for any other line.
bool ParseOrigin(const std::string& line, int* number, std::string* origin) {
  if (line.rfind(ORIGIN_HEAD, 0) != 0) return false;
  const size_t digits = std::string(ORIGIN_HEAD).size();
  const size_t of = line.find(ORIGIN_OF, digits);
  if (of == std::string::npos || of == digits || of - digits > 6) return false;
  const std::string count = line.substr(digits, of - digits);
  if (count.find_first_not_of("0123456789") != std::string::npos || std::stoi(count) < 1) return false;
  *number = std::stoi(count);
  *origin = line.substr(of + std::string(ORIGIN_OF).size());
  return !origin->empty();
}

}  // namespace

std::string OriginComment(const Board& board) {
  return ORIGIN_HEAD + std::to_string(board.number) + ORIGIN_OF + board.origin;
}

bool ReadManifest(const std::string& path, std::vector<Board>* boards, std::vector<std::string>* problems,
                  const ManifestRules& rules) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    problems->push_back("station: cannot read the manifest " + path);
    return false;
  }
  const std::string name = std::filesystem::path(path).filename().string();
  int number = 0;
  int originNumber = 0;  // from a "# line N of NAME" comment, for the next line only
  std::string origin;
  std::map<std::string, int> seen;  // device key and FRU ID to the first line naming them
  std::map<int, int> numbered;      // a board's number to the line that took it
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  LookUpNames(lines);
  for (std::string& line : lines) {
    ++number;
    if (number == 1 && line.rfind(MANIFEST_BOM, 0) == 0) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (Blank(line)) continue;
    if (line[0] == '#') {
      if (!ParseOrigin(line, &originNumber, &origin)) originNumber = 0;
      continue;
    }
    if (!CheckLine(number, line, rules, boards, problems)) {
      originNumber = 0;
      continue;
    }
    Board& board = boards->back();
    board.origin = originNumber > 0 ? origin : name;
    if (originNumber > 0) board.number = originNumber;
    originNumber = 0;
    const auto [first, added] = numbered.emplace(board.number, number);
    if (!added) {
      problems->push_back("station: manifest line " + std::to_string(number) + ": board number " +
                          std::to_string(board.number) + " is taken already by line " + std::to_string(first->second));
    }
    CheckDuplicate(board, number, &seen, problems);
  }
  if (boards->empty() && problems->empty()) problems->push_back("station: the manifest names no board");
  return problems->empty();
}

std::vector<std::vector<Board>> BoardsByBmc(const std::vector<Board>& boards) {
  std::vector<std::vector<Board>> groups;
  std::map<std::string, size_t> group;  // BMC key to its group
  for (const Board& board : boards) {
    const auto [at, added] = group.emplace(board.bmcKey, groups.size());
    if (added) groups.emplace_back();
    groups[at->second].push_back(board);
  }
  return groups;
}
