// Host-only: the write journal's folder and file names (the platform functions are in platform.h).
#pragma once

#include <cstdint>
#include <string>

// The file name stem of the entry of one BMC (as HostBmcName gives it) and
// FRU ID: the name with every byte outside [A-Za-z0-9._-] as %XX, a long one
// cut and followed by a hash of the whole.
std::string HostJournalKey(const std::string& bmcName, int32_t fruId);
