// Signals around a write on the host: interrupt, terminate and hang-up only
// note that the run was asked to stop once its write has begun; the core
// stops at the next chunk boundary and puts the FRU back.
#include <unistd.h>

#include <csignal>

#include "platform/host/host_signals.h"
#include "platform/platform.h"

namespace {

volatile sig_atomic_t gSignal = 0;
volatile sig_atomic_t gPending = 0;  // noted before a write held the signals
bool gHeld = false;
constexpr int HELD_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Only the first one counts: a second Ctrl-C during the restore changes nothing.
// The operator hears at once that it was taken, even while a silent BMC keeps
// the run from the next chunk boundary for a while.
void NoteSignal(int signal) {
  if (gSignal != 0) return;
  gSignal = signal;
  static const char NOTE[] = "tagforge: stopping at the next chunk, then putting the FRU back; do not kill it\n";
  const ssize_t ignored = write(STDERR_FILENO, NOTE, sizeof(NOTE) - 1);
  (void)ignored;
}

void NotePending(int signal) {
  if (gPending == 0) gPending = signal;
}

}  // namespace

void HostDeferEndingSignals() {
  if (gHeld) return;
  struct sigaction action{};
  action.sa_handler = NotePending;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : HELD_SIGNALS) sigaction(signal, &action, nullptr);
}

int HostPendingEndingSignal() { return gPending; }

void HostEndBySignal(int signal) {
  ::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  _exit(128 + signal);
}

void PlatformHoldInterruptions() {
  if (gHeld) return;
  gHeld = true;
  struct sigaction action{};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  // Restarted calls keep a transfer to the kernel driver or the network whole.
  action.sa_flags = SA_RESTART;
  for (int signal : HELD_SIGNALS) sigaction(signal, &action, nullptr);
}

const char* PlatformInterruption() {
  switch (gSignal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return nullptr;
  }
}
