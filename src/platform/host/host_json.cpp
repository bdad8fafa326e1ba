// --json: the run's record is the program's only standard output, the console
// text goes to standard error, and a run that a signal ends before its first
// write still prints its record (then dies by that signal, so that its exit
// status is what it would have been).
#include <time.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/host/host_console.h"
#include "platform/host/host_options.h"
#include "platform/host/host_report.h"
#include "platform/platform.h"

namespace {

bool gJson = false;
constexpr int WATCHED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
constexpr const char* WATCHED_NAMES[] = {"SIGINT", "SIGTERM", "SIGHUP"};
constexpr size_t WATCHED_COUNT = sizeof(WATCHED_SIGNALS) / sizeof(WATCHED_SIGNALS[0]);

// The record of this run as a signal would end it, one per watched signal, up
// to its duration: rendered ahead, at the points where the run may wait, as a
// handler can only write bytes. Two sets, so that the handler never reads the
// one being rendered.
using Interrupted = std::array<std::string, WATCHED_COUNT>;
std::array<Interrupted, 2> gInterrupted;
volatile sig_atomic_t gReady = -1;
timespec gStarted{};
std::array<std::string, WATCHED_COUNT> gNotes;  // the line each signal adds, for standard error

constexpr const char DURATION_KEY[] = ",\"duration_s\":";

sigset_t WatchedSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : WATCHED_SIGNALS) sigaddset(&set, signal);
  return set;
}

std::string StopLine(size_t which) {
  return std::string("tagforge: stopped by ") + WATCHED_NAMES[which] + " before anything was written";
}

void WriteAll(const char* bytes, size_t length) {
  while (length > 0) {
    const ssize_t n = write(STDOUT_FILENO, bytes, length);
    if (n <= 0) return;
    bytes += n;
    length -= static_cast<size_t>(n);
  }
}

// Seconds with three decimals, by hand: nothing that may allocate runs in a handler.
size_t FormatSeconds(char* out, long long milliseconds) {
  char digits[24];
  size_t count = 0;
  long long whole = milliseconds / 1000;
  do {
    digits[count++] = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole > 0);
  size_t length = 0;
  while (count > 0) out[length++] = digits[--count];
  out[length++] = '.';
  const long long fraction = milliseconds % 1000;
  out[length++] = static_cast<char>('0' + fraction / 100);
  out[length++] = static_cast<char>('0' + fraction / 10 % 10);
  out[length++] = static_cast<char>('0' + fraction % 10);
  return length;
}

void StopBeforeWrite(int signal) {
  size_t which = 0;
  while (which < WATCHED_COUNT && WATCHED_SIGNALS[which] != signal) ++which;
  const sig_atomic_t ready = gReady;
  if (which < WATCHED_COUNT && ready >= 0) {
    const std::string& head = gInterrupted[ready][which];
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ms = (now.tv_sec - gStarted.tv_sec) * 1000LL + (now.tv_nsec - gStarted.tv_nsec) / 1000000;
    char tail[48];
    size_t length = FormatSeconds(tail, ms < 0 ? 0 : ms);
    tail[length++] = '}';
    tail[length++] = '\n';
    WriteAll(head.data(), head.size());
    WriteAll(tail, length);
    const std::string& note = gNotes[which];
    const ssize_t ignored = write(STDERR_FILENO, note.data(), note.size());
    (void)ignored;
  }
  ::signal(signal, SIG_DFL);
  raise(signal);
}

}  // namespace

void HostUseJsonOutput() {
  gJson = true;
  clock_gettime(CLOCK_MONOTONIC, &gStarted);
  HostConsoleToStandardError();
  for (size_t i = 0; i < WATCHED_COUNT; ++i) gNotes[i] = StopLine(i) + "\n";
  // Held back until the first record is rendered: a signal before then waits for it.
  const sigset_t set = WatchedSet();
  sigprocmask(SIG_BLOCK, &set, nullptr);
  struct sigaction action{};
  action.sa_handler = StopBeforeWrite;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : WATCHED_SIGNALS) {
    // One the caller ignores (a station's hang-up) does not end the run, so it prints nothing either.
    struct sigaction before{};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

bool HostJsonOutput() { return gJson; }

void HostPrintJsonRecord(const std::string& line) {
  if (!gJson) return;
  // One record a run: a signal from here on ends the process without another.
  gReady = -1;
  fflush(stdout);
  WriteAll(line.data(), line.size());
}

void PlatformNoteRunSoFar(const PlatformRunSummary& summary) {
  if (!gJson) return;
  const int next = gReady == 0 ? 1 : 0;
  for (size_t i = 0; i < WATCHED_COUNT; ++i) {
    const std::string line = StopLine(i);
    std::vector<const char*> errors(summary.errorLines, summary.errorLines + summary.errorLineCount);
    errors.push_back(line.c_str());
    PlatformRunSummary interrupted = summary;
    interrupted.status = 128 + WATCHED_SIGNALS[i];
    interrupted.errorLines = errors.data();
    interrupted.errorLineCount = static_cast<int>(errors.size());
    std::string record = HostRunRecordLine(interrupted);
    record.resize(record.rfind(DURATION_KEY) + sizeof(DURATION_KEY) - 1);
    gInterrupted[next][i] = std::move(record);
  }
  gReady = next;
  const sigset_t set = WatchedSet();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}
