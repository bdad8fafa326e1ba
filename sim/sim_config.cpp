#include "sim_config.h"

#include <csignal>
#include <cstdlib>
#include <sstream>

namespace sim {

namespace {

bool ParseNumber(const std::string& text, uint64_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  unsigned long long v = strtoull(text.c_str(), &end, 0);
  if (*end != '\0') return false;
  *value = v;
  return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

bool ParseCommand(const std::string& name, Command* command) {
  if (name == "devid") *command = Command::DeviceId;
  else if (name == "size") *command = Command::InventorySize;
  else if (name == "read") *command = Command::ReadFru;
  else if (name == "write") *command = Command::WriteFru;
  else if (name == "any") *command = Command::Any;
  else if (name == "guid") *command = Command::DeviceGuid;
  else return false;
  return true;
}

// "N", "N-M" or "N+" (from N on).
bool ParseRange(const std::string& text, uint32_t* first, uint32_t* last) {
  uint64_t a = 0, b = 0;
  size_t dash = text.find('-');
  if (!text.empty() && text.back() == '+') {
    if (!ParseNumber(text.substr(0, text.size() - 1), &a)) return false;
    *first = static_cast<uint32_t>(a);
    *last = UINT32_MAX;
    return true;
  }
  if (dash == std::string::npos) {
    if (!ParseNumber(text, &a)) return false;
    *first = *last = static_cast<uint32_t>(a);
    return true;
  }
  if (!ParseNumber(text.substr(0, dash), &a) || !ParseNumber(text.substr(dash + 1), &b)) return false;
  *first = static_cast<uint32_t>(a);
  *last = static_cast<uint32_t>(b);
  return true;
}

// cc=CODE@COMMAND[#RANGE]
bool ParseCompletion(const std::string& value, CompletionFault* fault) {
  size_t at = value.find('@');
  if (at == std::string::npos) return false;
  uint64_t code = 0;
  if (!ParseNumber(value.substr(0, at), &code) || code > 0xFF) return false;
  fault->code = static_cast<uint8_t>(code);
  std::string target = value.substr(at + 1);
  size_t hash = target.find('#');
  fault->first = 1;
  fault->last = UINT32_MAX;
  if (hash != std::string::npos) {
    if (!ParseRange(target.substr(hash + 1), &fault->first, &fault->last)) return false;
    target = target.substr(0, hash);
  }
  return ParseCommand(target, &fault->command);
}

// port-fail=read|write[#N | @R]: the Nth access, or every one from the Rth request on.
bool ParsePortFault(const std::string& value, PortFault* fault) {
  size_t mark = value.find_first_of("#@");
  std::string kind = value.substr(0, mark);
  if (kind != "read" && kind != "write") return false;
  fault->onRead = kind == "read";
  fault->first = 0;
  fault->fromRequest = 0;
  if (mark == std::string::npos) return true;
  uint64_t number = 0;
  if (!ParseNumber(value.substr(mark + 1), &number)) return false;
  if (value[mark] == '#') {
    fault->first = number;
  } else {
    fault->fromRequest = number == 0 ? 0 : number - 1;
  }
  return true;
}

// signal=NAME@K: the signal (INT, TERM, HUP, KILL, PIPE, STOP) once the Kth
// Write FRU Data was taken; signal=NAME@readK: the Kth Read FRU Data.
bool ParseSignal(const std::string& value, Faults* faults) {
  const size_t at = value.find('@');
  if (at == std::string::npos) return false;
  std::string when = value.substr(at + 1);
  faults->signalAfter = Command::WriteFru;
  if (when.rfind("read", 0) == 0) {
    faults->signalAfter = Command::ReadFru;
    when = when.substr(4);
  }
  uint64_t count = 0;
  if (!ParseNumber(when, &count) || count == 0 || count > UINT32_MAX) return false;
  const std::string name = value.substr(0, at);
  if (name == "INT") faults->signal = SIGINT;
  else if (name == "TERM") faults->signal = SIGTERM;
  else if (name == "HUP") faults->signal = SIGHUP;
  else if (name == "KILL") faults->signal = SIGKILL;
  else if (name == "PIPE") faults->signal = SIGPIPE;
  else if (name == "STOP") faults->signal = SIGSTOP;
  else return false;
  faults->signalAfterWrite = static_cast<uint32_t>(count);
  return true;
}

// guid=none, or 32 hexadecimal digits in the order the BMC sends the bytes.
bool ParseGuid(const std::string& value, Identity* identity) {
  if (value == "none") {
    identity->hasGuid = false;
    return true;
  }
  if (value.size() != 32 || value.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
  for (size_t i = 0; i < 16; ++i) identity->guid[i] = static_cast<uint8_t>(std::stoul(value.substr(2 * i, 2), nullptr, 16));
  identity->hasGuid = true;
  return true;
}

}  // namespace

bool ParseLatency(const std::string& text, Latency* latency, std::string* error) {
  for (const std::string& item : Split(text, ',')) {
    size_t eq = item.find('=');
    std::string key = item.substr(0, eq);
    std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    size_t dash = value.find('-');
    uint64_t low = 0, high = 0;
    bool ok = dash == std::string::npos
                  ? ParseNumber(value, &low)
                  : ParseNumber(value.substr(0, dash), &low) && ParseNumber(value.substr(dash + 1), &high) && high >= low;
    ok = ok && low <= UINT32_MAX && high <= UINT32_MAX;
    if (ok && key == "ibf") {
      latency->ibfClearUs = static_cast<uint32_t>(low);
      latency->ibfClearMaxUs = static_cast<uint32_t>(high);
    } else if (ok && key == "response") {
      latency->responseReadyUs = static_cast<uint32_t>(low);
      latency->responseReadyMaxUs = static_cast<uint32_t>(high);
    } else if (ok && key == "port" && dash == std::string::npos) {
      latency->portAccessUs = static_cast<uint32_t>(low);
    } else {
      *error = "latency item not understood: " + item;
      return false;
    }
  }
  return true;
}

bool ParseFaults(const std::string& text, Faults* faults, Identity* identity, std::string* error) {
  for (const std::string& item : Split(text, ',')) {
    size_t eq = item.find('=');
    std::string key = item.substr(0, eq);
    std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    uint64_t number = 0;
    bool numeric = ParseNumber(value, &number);
    bool ok = true;
    if (key == "absent") faults->absent = true;
    else if (key == "ibf-stuck") faults->ibfStuck = true;
    else if (key == "flood") faults->flood = true;
    else if (key == "write-count-zero") faults->writeCountZero = true;
    else if (key == "locate-fail") faults->locateFails = true;
    else if (key == "store-later" && eq == std::string::npos) faults->store = StoreMode::Later;
    else if (key == "store-later" && value == "never") faults->store = StoreMode::Never;
    else if (key == "state" && value == "write") faults->initialState = InitialState::Write;
    else if (key == "state" && value == "error") faults->initialState = InitialState::Error;
    else if (key == "state" && value == "read") faults->initialState = InitialState::Read;
    else if (key == "mfg" && numeric) identity->manufacturerId = static_cast<uint32_t>(number);
    else if (key == "fwrev1" && numeric && number <= 0xFF) identity->firmwareMajor = static_cast<uint8_t>(number);
    else if (key == "fwrev2" && numeric && number <= 0xFF) identity->firmwareMinor = static_cast<uint8_t>(number);
    else if (key == "auxrev" && numeric) identity->auxiliary = static_cast<uint32_t>(number);
    else if (key == "dead-after" && numeric) faults->deadAfter = static_cast<int64_t>(number);
    else if (key == "short-read" && numeric) faults->shortRead = static_cast<uint32_t>(number);
    else if (key == "long-read" && numeric) faults->longRead = static_cast<uint32_t>(number);
    else if (key == "max-chunk" && numeric) faults->maxChunk = static_cast<uint32_t>(number);
    else if (key == "busy" && numeric) faults->busyWrites = static_cast<uint32_t>(number);
    else if (key == "devid-bytes" && numeric && number <= 15) faults->deviceIdBytes = static_cast<uint32_t>(number);
    else if (key == "signal") ok = ParseSignal(value, faults);
    else if (key == "drop" || key == "last-wrong") {
      uint32_t first = 0, last = 0;
      ok = value.rfind("write#", 0) == 0 && ParseRange(value.substr(6), &first, &last);
      if (ok) (key == "drop" ? faults->dropped : faults->lastByteWrong).emplace_back(first, last);
    }
    else if (key == "guid") ok = ParseGuid(value, identity);
    else if (key == "cc") {
      CompletionFault fault{};
      ok = ParseCompletion(value, &fault);
      if (ok) faults->completionCodes.push_back(fault);
    } else if (key == "port-fail") {
      PortFault fault{};
      ok = ParsePortFault(value, &fault);
      if (ok) faults->portFaults.push_back(fault);
    } else {
      ok = false;
    }
    if (!ok) {
      *error = "fault not understood: " + item;
      return false;
    }
  }
  return true;
}

}  // namespace sim
