// Host-only: signals that end a run before its write holds them, for a device
// with something to close first (a BMC's LAN session, which the BMC would
// otherwise keep until it times out, one of its few slots each).
#pragma once

// From now until a write holds them, SIGINT, SIGTERM and SIGHUP are noted
// instead of ending the process at once; the device then ends it (HostEndBySignal).
void HostDeferEndingSignals();
// The signal noted so, or 0.
int HostPendingEndingSignal();
// Ends the process as the signal's default action would have.
[[noreturn]] void HostEndBySignal(int signal);
