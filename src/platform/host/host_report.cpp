#include "platform/host/host_report.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <nlohmann/json.hpp>

#include "fru/fru_date.h"
#include "platform/host/host_options.h"

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

ssize_t (*gWrite)(int, const void*, size_t) = ::write;

// Why the report file that fd holds open is not one to append to, or "".
std::string Unsuitable(int fd) {
  struct stat info{};
  if (fstat(fd, &info) != 0) return strerror(errno);
  return S_ISREG(info.st_mode) ? "" : "not a regular file";
}

// Runs hold the lock only for one write; a program that keeps it must not keep the run from ending.
constexpr int REPORT_LOCK_TRIES = 200;
constexpr useconds_t REPORT_LOCK_PAUSE_US = 25000;

bool LockBriefly(int fd) {
  for (int attempt = 1;; ++attempt) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if ((errno != EWOULDBLOCK && errno != EINTR) || attempt == REPORT_LOCK_TRIES) return false;
    usleep(REPORT_LOCK_PAUSE_US);
  }
}

// The whole line in one write, under an exclusive lock every run on the file
// takes: records of runs that share the file never interleave, and a write cut
// short (a full disk) is taken back whole, so no other run's record is glued
// to a torn one. Never through a symbolic link: a link planted in a shared
// folder would send root's records into any file.
bool Append(const char* path, const std::string& line, std::string* error) {
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) {
    *error = errno == ELOOP ? "it is a symbolic link" : strerror(errno);
    return false;
  }
  *error = Unsuitable(fd);
  struct stat before{};
  if (error->empty() && !LockBriefly(fd)) *error = errno == EWOULDBLOCK ? "another program holds its lock" : strerror(errno);
  if (error->empty() && fstat(fd, &before) != 0) *error = strerror(errno);
  if (error->empty()) {
    ssize_t written;
    do {
      written = gWrite(fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    const int writeErrno = errno;
    if (written != static_cast<ssize_t>(line.size())) {
      *error = written < 0 ? strerror(writeErrno) : "a short write";
      if (written > 0 && ftruncate(fd, before.st_size) != 0) *error += std::string(", not taken back: ") + strerror(errno);
    }
  }
  close(fd);
  return error->empty();
}

// A manufacturing date as ISO 8601 date and time; the FRU holds no time zone, so neither does this.
std::string MinutesAsDate(const uint8_t* bytes) {
  const uint32_t minutes = bytes[0] | bytes[1] << 8 | bytes[2] << 16;
  const FruDate day = FruDateFromMinutes(minutes);
  const uint32_t inDay = minutes % FRU_DATE_MINUTES_PER_DAY;
  char text[24];
  snprintf(text, sizeof(text), "%04d-%02d-%02dT%02u:%02u", day.year, day.month, day.day, inDay / 60, inDay % 60);
  return text;
}

nlohmann::ordered_json FieldRecord(const PlatformReportField& f) {
  nlohmann::ordered_json field;
  field["keyword"] = f.keyword;
  field["name"] = f.name;
  if (f.text) field["text"] = std::string(reinterpret_cast<const char*>(f.bytes), static_cast<size_t>(f.size));
  field["hex"] = Hex(f.bytes, f.size);
  if (f.minutes && f.size == 3) field["date"] = MinutesAsDate(f.bytes);
  field["size"] = f.size;
  return field;
}

nlohmann::ordered_json FieldList(const PlatformReportField* fields, int count) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (int i = 0; i < count; ++i) list.push_back(FieldRecord(fields[i]));
  return list;
}

}  // namespace

void HostUseReportWrite(ssize_t (*write)(int fd, const void* bytes, size_t count)) {
  gWrite = write != nullptr ? write : ::write;
}

void HostNoteRunStart() {
  gStarted = Clock::now();
  gStartedAt = std::time(nullptr);
}

std::string HostReportRecord(const PlatformRunSummary& s, const char* bmc, const char* tag,
                             const std::string& startedAt, double seconds) {
  nlohmann::ordered_json record;
  record["time"] = startedAt;
  record["version"] = TAGFORGE_VERSION;
  record["bmc"] = bmc == nullptr ? nlohmann::ordered_json() : nlohmann::ordered_json(bmc);
  // The caller's own name for the run (a station's manifest line), so records join by it and not by the BMC.
  record["tag"] = tag == nullptr ? nlohmann::ordered_json() : nlohmann::ordered_json(tag);
  record["fru_id"] = s.fruId;
  record["mode"] = s.mode;
  record["keywords"] = nlohmann::ordered_json::array();
  for (int i = 0; i < s.keywordCount; ++i) record["keywords"].push_back(s.keywords[i]);
  record["requested"] = FieldList(s.requested, s.requestedCount);
  record["fields_from"] = s.fieldsFrom;
  // null, not [], when the run cannot vouch for any image of the FRU.
  record["fields"] = s.fields == nullptr ? nlohmann::ordered_json() : FieldList(s.fields, s.fieldCount);
  record["inventory_size"] = s.inventorySize;
  record["bytes_written"] = s.bytesWritten;
  record["journal"] = s.journal == nullptr ? nlohmann::ordered_json() : nlohmann::ordered_json(s.journal);
  record["status"] = s.status;
  record["errors"] = nlohmann::ordered_json::array();
  for (int i = 0; i < s.errorLineCount; ++i) record["errors"].push_back(s.errorLines[i]);
  record["lint"] = nlohmann::ordered_json::array();
  for (int i = 0; i < s.lintCount; ++i) {
    nlohmann::ordered_json finding;
    finding["level"] = s.lint[i].level;
    finding["area"] = s.lint[i].area;
    finding["offset"] = s.lint[i].offset;
    finding["text"] = s.lint[i].text;
    record["lint"].push_back(finding);
  }
  // Only a verify compares fields: other records keep the keys they always had.
  if (s.verify != nullptr) {
    record["verify"] = nlohmann::ordered_json::array();
    for (int i = 0; i < s.verifyCount; ++i) {
      nlohmann::ordered_json field;
      field["keyword"] = s.verify[i].keyword;
      field["name"] = s.verify[i].name;
      field["result"] = s.verify[i].ok ? "ok" : "mismatch";
      field["found"] = s.verify[i].found;
      field["expected"] = s.verify[i].expected;
      record["verify"].push_back(field);
    }
  }
  record["duration_s"] = seconds;
  // FRU text is 8-bit: bytes that are not UTF-8 are shown as U+FFFD rather than refused.
  return record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string HostRunRecordLine(const PlatformRunSummary& summary) {
  const double seconds = std::chrono::duration<double>(Clock::now() - gStarted).count();
  return HostReportRecord(summary, getenv("TAGFORGE_BMC"), getenv("TAGFORGE_REPORT_TAG"), Utc(gStartedAt), seconds);
}

void PlatformReportRun(const PlatformRunSummary& summary) {
  const std::string line = HostRunRecordLine(summary) + "\n";
  HostPrintJsonRecord(line);
  const char* path = getenv("TAGFORGE_REPORT");
  if (path == nullptr || *path == '\0') return;
  std::string error;
  // The report is a record of the run, not part of it: a failure does not change the status.
  if (!Append(path, line, &error)) fprintf(stderr, "tagforge: the run report could not be written to %s: %s\n", path, error.c_str());
}
