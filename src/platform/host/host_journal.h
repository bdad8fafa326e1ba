// Host-only: the write journal's folder and file names (the platform functions are in platform.h).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

// The system calls the journal makes on its files (its entries, their folder,
// the locks), so that a test can fail one or see the order they come in.
struct JournalFileCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*write)(int fd, const void* bytes, size_t count);
  int (*fsync)(int fd);
  int (*close)(int fd);
  int (*rename)(const char* from, const char* to);
  int (*unlink)(const char* path);
};
const JournalFileCalls& RealJournalFileCalls();
// The calls in use now (the lock file is opened through them too).
const JournalFileCalls& HostJournalFileCalls();
// Tests: the calls the journal makes from now on; null goes back to the real ones.
void HostUseJournalFileCalls(const JournalFileCalls* calls);

// The file name stem of the entry of one BMC (as HostBmcName gives it) and
// FRU ID: the name with every byte outside [A-Za-z0-9._-] as %XX, a long one
// cut and followed by a hash of the whole.
std::string HostJournalKey(const std::string& bmcName, int32_t fruId);
