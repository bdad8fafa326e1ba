// Signals around a write on the host: interrupt, terminate and hang-up only
// note that the run was asked to stop once its write has begun; the core
// stops at the next chunk boundary and puts the FRU back.
#include <csignal>

#include "platform/platform.h"

namespace {

volatile sig_atomic_t gSignal = 0;
bool gHeld = false;
constexpr int HELD_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Only the first one counts: a second Ctrl-C during the restore changes nothing.
void NoteSignal(int signal) {
  if (gSignal == 0) gSignal = signal;
}

}  // namespace

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
