// One lock folder for every user, every HOME and every TAGFORGE_JOURNAL: two
// runs that locked in two places would both write the same FRU. So the folder
// is decided by the system alone, and a folder or a lock file that another
// user could swap, delete or make unopenable stops the run instead of sending
// it somewhere else.
#include "platform/host/host_fru_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/host/host_journal.h"

namespace {

constexpr const char* LOCK_SYSTEM_FOLDER = "/run/lock";
constexpr const char* LOCK_FOLDER_RUN = "/run/lock/tagforge";
constexpr const char* LOCK_FOLDER_TMP = "/tmp/tagforge-locks";
// Sticky like /tmp: everyone makes lock files, no one deletes another's.
constexpr mode_t LOCK_FOLDER_MODE = 01777;
// Readable by all: flock needs only a descriptor, and every user's run must open the same file.
constexpr mode_t LOCK_FILE_MODE = 0644;

const char* gFolderForTests = nullptr;

// The folder as it is now, made (sticky, whatever the umask) when missing;
// "" when it can be used, else the line that says why not.
std::string ReadyFolder(const std::string& folder) {
  // Made by anyone but root, the folder would be that user's, and every other
  // user's runs would refuse it: only root, or whoever owns the folder above
  // (a test's own), makes it.
  const std::string parent = folder.substr(0, folder.find_last_of('/'));
  struct stat above{};
  const bool mayMake = geteuid() == 0 || (stat(parent.c_str(), &above) == 0 && above.st_uid == geteuid());
  if (mayMake && mkdir(folder.c_str(), LOCK_FOLDER_MODE) == 0) chmod(folder.c_str(), LOCK_FOLDER_MODE);
  struct stat info{};
  if (lstat(folder.c_str(), &info) != 0) {
    if (errno == ENOENT && !mayMake) {
      return "[ERROR] The lock folder " + folder + " does not exist: make it as root (install -d -m 1777 -o root -g root " +
             folder + ")";
    }
    return "[ERROR] No lock can be taken for this FRU (" + folder + ": " + strerror(errno) + ")";
  }
  const std::string why = HostUntrustedLockFolder(info);
  if (why.empty()) return "";
  return "[ERROR] The lock folder " + folder + " (owner " + HostUserName(info.st_uid) + ") cannot be trusted: " + why;
}

}  // namespace

void HostUseLockFolder(const char* folder) { gFolderForTests = folder; }

std::string HostLockFolder() {
  if (gFolderForTests != nullptr) return gFolderForTests;
  struct stat info{};
  return stat(LOCK_SYSTEM_FOLDER, &info) == 0 && S_ISDIR(info.st_mode) ? LOCK_FOLDER_RUN : LOCK_FOLDER_TMP;
}

std::string HostUntrustedLockFolder(const struct stat& info) {
  if (S_ISLNK(info.st_mode)) return "it is a symbolic link";
  if (!S_ISDIR(info.st_mode)) return "it is not a folder";
  // Without the sticky bit anyone who can write the folder can delete a lock someone holds.
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0) {
    return "others can write to it and it is not sticky";
  }
  // The owner of a sticky folder can still delete any lock file in it.
  if (info.st_uid != 0 && info.st_uid != geteuid()) return "it belongs to neither root nor this user";
  return "";
}

// From /etc/passwd itself: the static build has no name service to ask.
std::string HostUserName(uid_t uid) {
  std::ifstream passwd("/etc/passwd");
  const std::string number = std::to_string(uid);
  for (std::string line; std::getline(passwd, line);) {
    const size_t name = line.find(':');
    const size_t password = name == std::string::npos ? name : line.find(':', name + 1);
    const size_t id = password == std::string::npos ? password : line.find(':', password + 1);
    if (id != std::string::npos && line.compare(password + 1, id - password - 1, number) == 0) return line.substr(0, name);
  }
  return "uid " + number;
}

namespace {

enum class Opened { Locked, Busy, Again, Refused };

// One try at the lock file: open (made when missing), checked, locked, and
// still the file the path names once locked. A run that opened a file root
// then replaced (below) finds it gone and tries again, so two runs never hold
// two files of one name.
Opened TryLock(const std::string& path, int* fd, std::string* why) {
  const JournalFileCalls& calls = HostJournalFileCalls();
  *fd = calls.open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, LOCK_FILE_MODE);
  if (*fd < 0) {
    *why = strerror(errno);
    return Opened::Refused;
  }
  struct stat info{};
  if (fstat(*fd, &info) != 0) {
    *why = strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    *why = "not a file";
  } else if (info.st_uid != 0 && info.st_uid != geteuid() && geteuid() != 0) {
    // Its owner may delete it from the sticky folder while this run holds it;
    // their next run would then lock a new file and write beside this one.
    *why = "it belongs to " + HostUserName(info.st_uid) + ", who could remove it while this run holds it; remove it as root " +
           "when no run holds it";
  } else if (info.st_uid == geteuid() && (info.st_mode & 07777) != LOCK_FILE_MODE && fchmod(*fd, LOCK_FILE_MODE) != 0) {
    // The umask narrowed it when it was made: another user's run could not open it, and would lock nothing.
    *why = strerror(errno);
  }
  if (why->empty() && flock(*fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      calls.close(*fd);
      return Opened::Busy;
    }
    *why = strerror(errno);
  }
  if (!why->empty()) {
    calls.close(*fd);
    return Opened::Refused;
  }
  struct stat named{};
  const bool same = stat(path.c_str(), &named) == 0 && named.st_dev == info.st_dev && named.st_ino == info.st_ino;
  if (same && (info.st_uid == 0 || info.st_uid == geteuid())) return Opened::Locked;
  // Another user's file that no run holds: root puts one of its own in its
  // place, which no one else can delete. Whoever opened the old one finds it
  // gone once locked, and tries again.
  if (same) unlink(path.c_str());
  calls.close(*fd);
  return Opened::Again;
}

}  // namespace

int HostLockFruFile(const std::string& key, bool* busy, std::string* problem) {
  *busy = false;
  const std::string folder = HostLockFolder();
  *problem = ReadyFolder(folder);
  if (!problem->empty()) return -1;
  const std::string path = folder + "/" + key + ".lock";
  std::string why = "it was replaced while this run took it, again and again";
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = -1;
    std::string refused;
    switch (TryLock(path, &fd, &refused)) {
      case Opened::Locked:
        return fd;
      case Opened::Busy:
        *busy = true;
        return -1;
      case Opened::Again:
        continue;
      case Opened::Refused:
        why = refused;
        break;
    }
    break;
  }
  *problem = "[ERROR] No lock can be taken for this FRU (" + path + ": " + why + ")";
  return -1;
}
