// Host-only: the lock file every run on one BMC and FRU ID holds, in the one
// lock folder all users share.
#pragma once

#include <sys/stat.h>

#include <string>

// /run/lock/tagforge where /run/lock exists, else /tmp/tagforge-locks: decided
// by the system, never by what a run finds in either folder.
std::string HostLockFolder();

// Why a folder that holds files others rely on cannot be trusted (a symbolic
// link, not a folder, writable by others and not sticky, owned by neither
// root nor this user), or "" when it can; info is its lstat.
std::string HostUntrustedLockFolder(const struct stat& info);

// The user a uid names, for lines that name an owner ("nobody", else "uid 1234").
std::string HostUserName(uid_t uid);

// Opens, making it when missing, and locks the lock file named key in the lock
// folder: the descriptor, held until it is closed; -1 with *busy when another
// run holds it, else -1 with the one line that says which path and why. Root
// replaces another user's file that no run holds with one of its own.
int HostLockFruFile(const std::string& key, bool* busy, std::string* problem);

// Tests: the lock folder from now on, instead of the system's; null goes back to it.
void HostUseLockFolder(const char* folder);
