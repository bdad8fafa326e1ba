#include "platform/host/host_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <nlohmann/json.hpp>

namespace {

using Clock = std::chrono::steady_clock;
Clock::time_point gStarted = Clock::now();
std::time_t gStartedAt = std::time(nullptr);

std::string Utc(std::time_t t) {
  char text[32];
  std::tm parts{};
  gmtime_r(&t, &parts);
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string Hex(const uint8_t* bytes, int32_t size) {
  std::string text;
  char two[4];
  for (int32_t i = 0; i < size; ++i) {
    snprintf(two, sizeof(two), i == 0 ? "%02x" : " %02x", bytes[i]);
    text += two;
  }
  return text;
}

// One write of the whole line to a file opened for appending: records of runs
// that share the file never interleave.
bool Append(const char* path, const std::string& line, std::string* error) {
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = strerror(errno);
    return false;
  }
  const ssize_t written = write(fd, line.data(), line.size());
  const int writeErrno = errno;
  close(fd);
  if (written != static_cast<ssize_t>(line.size())) {
    *error = written < 0 ? strerror(writeErrno) : "a short write";
    return false;
  }
  return true;
}

}  // namespace

void HostNoteRunStart() {
  gStarted = Clock::now();
  gStartedAt = std::time(nullptr);
}

std::string HostReportRecord(const PlatformRunSummary& s, const char* bmc, const char* tag,
                             const std::string& startedAt, double seconds) {
  nlohmann::ordered_json record;
  record["time"] = startedAt;
  record["bmc"] = bmc == nullptr ? nlohmann::ordered_json() : nlohmann::ordered_json(bmc);
  // The caller's own name for the run (a station's manifest line), so records join by it and not by the BMC.
  record["tag"] = tag == nullptr ? nlohmann::ordered_json() : nlohmann::ordered_json(tag);
  record["fru_id"] = s.fruId;
  record["mode"] = s.mode;
  record["keywords"] = nlohmann::ordered_json::array();
  for (int i = 0; i < s.keywordCount; ++i) record["keywords"].push_back(s.keywords[i]);
  record["fields"] = nlohmann::ordered_json::array();
  for (int i = 0; i < s.fieldCount; ++i) {
    const PlatformReportField& f = s.fields[i];
    nlohmann::ordered_json field;
    field["name"] = f.name;
    if (f.text) {
      field["text"] = std::string(reinterpret_cast<const char*>(f.bytes), static_cast<size_t>(f.size));
    } else {
      field["hex"] = Hex(f.bytes, f.size);
    }
    field["size"] = f.size;
    record["fields"].push_back(field);
  }
  record["inventory_size"] = s.inventorySize;
  record["bytes_written"] = s.bytesWritten;
  record["status"] = s.status;
  record["errors"] = nlohmann::ordered_json::array();
  for (int i = 0; i < s.errorLineCount; ++i) record["errors"].push_back(s.errorLines[i]);
  record["duration_s"] = seconds;
  // FRU text is 8-bit: bytes that are not UTF-8 are shown as U+FFFD rather than refused.
  return record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void PlatformReportRun(const PlatformRunSummary& summary) {
  const char* path = getenv("TAGFORGE_REPORT");
  if (path == nullptr || *path == '\0') return;
  const double seconds = std::chrono::duration<double>(Clock::now() - gStarted).count();
  const std::string line = HostReportRecord(summary, getenv("TAGFORGE_BMC"), getenv("TAGFORGE_REPORT_TAG"), Utc(gStartedAt), seconds) + "\n";
  std::string error;
  // The report is a record of the run, not part of it: a failure does not change the status.
  if (!Append(path, line, &error)) fprintf(stderr, "tagforge: the run report could not be written to %s: %s\n", path, error.c_str());
}
