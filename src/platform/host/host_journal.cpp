// The write journal of the host: one owner-only file per BMC and FRU ID in
// the journal folder, written durably before a write's first chunk and removed
// once the write is settled. Apart from it, a lock file per BMC and FRU ID in
// one folder every user and every journal setting shares, which the run keeps
// locked until it exits (the kernel lets go of a killed run's lock).
//
// An entry is written back to a FRU by the next run: only its owner may be
// able to put one there. A folder others can write, or an entry someone else
// owns, is never read.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/host_bmc.h"
#include "platform/host/host_fru_lock.h"
#include "platform/host/host_journal.h"
#include "platform/platform.h"

namespace {

constexpr const char* JOURNAL_MAGIC = "tagforge journal 1";
// Longer names keep a readable head and a hash of the whole, within the file system's 255 bytes.
constexpr size_t JOURNAL_KEY_MAX = 160;
constexpr size_t JOURNAL_KEY_HEAD = 120;
constexpr size_t JOURNAL_IMAGE_MAX = 65536;
// A whole entry: two images in hex and a few short lines.
constexpr size_t JOURNAL_ENTRY_MAX = 4 * JOURNAL_IMAGE_MAX + 4096;

struct Journal {
  bool opened = false;
  bool off = false;  // TAGFORGE_JOURNAL=off: locked, but nothing kept
  std::string folder;
  std::string key;
  std::string problem;  // the line a caller prints for a failure
  bool inMemory = false;  // the folder is on tmpfs or ramfs: a power cut takes the entries with it
  std::string fileSystem;
  std::string keptAs;
  std::vector<uint8_t> original;
  std::vector<uint8_t> written;
  int lock = -1;
};
Journal gJournal;
bool gSaidOff = false;
bool gSaidInMemory = false;

int RealOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
const JournalFileCalls kRealCalls{RealOpen, ::write, ::fsync, ::close, ::rename, ::unlink};
const JournalFileCalls* gCalls = &kRealCalls;

std::string EntryPath() { return gJournal.folder + "/" + gJournal.key + ".entry"; }
std::string StagingPath() { return EntryPath() + ".new"; }

uint64_t Fnv1a(const std::string& text) {
  uint64_t hash = 14695981039346656037ULL;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ULL;
  return hash;
}

std::string Hex(const uint8_t* bytes, size_t count) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 0xF];
  }
  return text;
}

bool FromHex(const std::string& text, std::vector<uint8_t>* bytes) {
  if (text.size() % 2 != 0 || text.size() / 2 > JOURNAL_IMAGE_MAX) return false;
  bytes->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    if (sscanf(text.c_str() + i, "%2x", &value) != 1 || !isxdigit(static_cast<unsigned char>(text[i])) ||
        !isxdigit(static_cast<unsigned char>(text[i + 1]))) {
      return false;
    }
    bytes->push_back(static_cast<uint8_t>(value));
  }
  return true;
}

// Durable only once the folder's own entry for the file is on disk too.
void SyncFolder() {
  const int fd = gCalls->open(gJournal.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return;
  gCalls->fsync(fd);
  gCalls->close(fd);
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = gCalls->write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string Digest(const std::string& text) {
  char hex[20];
  snprintf(hex, sizeof(hex), "%016llx", static_cast<unsigned long long>(Fnv1a(text)));
  return hex;
}

// The entry's lines, then a digest of them: an entry changed by hand or by a
// failing disk is not one to write back to a FRU.
std::string EntryText(const PlatformJournalEntry& entry) {
  std::ostringstream text;
  text << JOURNAL_MAGIC << "\n"
       << "bmc " << gJournal.key << "\n"
       << "manufacturer " << entry.bmc.manufacturer << "\n"
       << "product " << entry.bmc.product << "\n"
       << "guid " << (entry.bmc.hasGuid ? Hex(entry.bmc.guid, sizeof(entry.bmc.guid)) : "-") << "\n"
       << "original " << Hex(entry.original, entry.originalSize) << "\n"
       << "new " << Hex(entry.newImage, entry.newSize) << "\n";
  return text.str() + "digest " + Digest(text.str()) + "\n";
}

// The lines of an entry by their names; false when the text is not one of our entries whole.
bool ParseEntry(const std::string& text, PlatformJournalEntry* entry) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != JOURNAL_MAGIC) return false;
  std::string digested = line + "\n";
  std::string digest;
  std::string key, guid;
  unsigned long manufacturer = 0, product = 0;
  bool haveOriginal = false, haveNew = false;
  while (std::getline(in, line)) {
    const size_t space = line.find(' ');
    if (space == std::string::npos) return false;
    const std::string name = line.substr(0, space);
    const std::string value = line.substr(space + 1);
    if (!digest.empty()) return false;  // nothing follows the digest
    if (name == "digest") {
      digest = value;
      continue;
    }
    digested += line + "\n";
    if (name == "bmc") key = value;
    else if (name == "manufacturer") manufacturer = strtoul(value.c_str(), nullptr, 10);
    else if (name == "product") product = strtoul(value.c_str(), nullptr, 10);
    else if (name == "guid") guid = value;
    else if (name == "original") haveOriginal = FromHex(value, &gJournal.original);
    else if (name == "new") haveNew = FromHex(value, &gJournal.written);
  }
  std::vector<uint8_t> guidBytes;
  const bool hasGuid = guid != "-";
  if (digest != Digest(digested) || key != gJournal.key || !haveOriginal || !haveNew ||
      (hasGuid && (!FromHex(guid, &guidBytes) || guidBytes.size() != 16))) {
    return false;
  }
  *entry = PlatformJournalEntry{};
  entry->bmc.manufacturer = static_cast<uint32_t>(manufacturer);
  entry->bmc.product = static_cast<uint16_t>(product);
  entry->bmc.hasGuid = hasGuid;
  if (hasGuid) memcpy(entry->bmc.guid, guidBytes.data(), 16);
  entry->original = gJournal.original.data();
  entry->originalSize = gJournal.original.size();
  entry->newImage = gJournal.written.data();
  entry->newSize = gJournal.written.size();
  return true;
}

// TAGFORGE_JOURNAL, else the XDG state folder, else ~/.local/state; empty when none is known.
std::string JournalFolder() {
  const char* set = getenv("TAGFORGE_JOURNAL");
  if (set != nullptr && *set != '\0') return set;
  const char* state = getenv("XDG_STATE_HOME");
  // A relative XDG_STATE_HOME is one to ignore, as every XDG program does.
  if (state != nullptr && *state == '/') return std::string(state) + "/tagforge";
  const char* home = getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/.local/state/tagforge";
  return "";
}

bool MakeFolder(const std::string& folder) {
  std::error_code error;
  // Every folder made here is the owner's alone, those on the way included
  // (~/.local/state): one that others could write lets them move the journal away.
  std::string made;
  for (size_t slash = folder.find('/', 1); !error; slash = folder.find('/', slash + 1)) {
    made = folder.substr(0, slash);
    if (std::filesystem::create_directory(made, error)) chmod(made.c_str(), 0700);
    if (slash == std::string::npos) break;
  }
  struct stat info{};
  if (error || stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    gJournal.problem = "[ERROR] The journal folder " + folder + " cannot be made: " +
                       (error ? error.message() : std::string(strerror(errno)));
    return false;
  }
  return true;
}

// Why the run must not trust the folder with its entries, or "".
std::string UntrustedFolder(const std::string& folder) {
  struct stat info{};
  if (stat(folder.c_str(), &info) != 0) return std::string("cannot be read: ") + strerror(errno);
  if (info.st_uid != geteuid()) {
    return "belongs to " + HostUserName(info.st_uid) + ", not to " + HostUserName(geteuid()) + " who runs tagforge";
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "can be written by its group or others (chmod go-w)";
  return "";
}

// A file system that lives in memory loses every entry at a power cut.
void NoteFileSystem(const std::string& folder) {
  struct statfs info{};
  if (statfs(folder.c_str(), &info) != 0) return;
  if (info.f_type == TMPFS_MAGIC) gJournal.fileSystem = "tmpfs";
  if (info.f_type == RAMFS_MAGIC) gJournal.fileSystem = "ramfs";
  gJournal.inMemory = !gJournal.fileSystem.empty();
}

// The journal folder of this run, made when missing and checked; false with
// gJournal.problem said when the run must do without it.
bool OpenFolder() {
  const char* set = getenv("TAGFORGE_JOURNAL");
  // A relative one is another folder from every working directory: a killed run's entry would not be found.
  if (set != nullptr && *set != '\0' && *set != '/') {
    gJournal.problem = std::string("[ERROR] TAGFORGE_JOURNAL=") + set + " is not an absolute path";
    return false;
  }
  gJournal.folder = JournalFolder();
  if (gJournal.folder.empty()) {
    gJournal.problem = "[ERROR] No journal folder: set TAGFORGE_JOURNAL, or TAGFORGE_JOURNAL=off";
    return false;
  }
  if (!MakeFolder(gJournal.folder)) return false;
  const std::string why = UntrustedFolder(gJournal.folder);
  if (!why.empty()) {
    gJournal.problem = "[ERROR] The journal folder " + gJournal.folder + " " + why;
    return false;
  }
  NoteFileSystem(gJournal.folder);
  return true;
}

// A run killed while it stored its entry leaves the staging file; the lock says no one else is writing it.
void RemoveStaging() {
  struct stat info{};
  if (lstat(StagingPath().c_str(), &info) == 0) gCalls->unlink(StagingPath().c_str());
}

// The entry's bytes, read only from a plain file this user owns; otherwise
// PLATFORM_ACCESS_DENIED with the problem said, or PLATFORM_DEVICE_ERROR.
PlatformStatus ReadEntryText(std::string* text) {
  const std::string path = EntryPath();
  const int fd = gCalls->open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0) return errno == ENOENT ? PLATFORM_NOT_FOUND : PLATFORM_DEVICE_ERROR;
  struct stat info{};
  PlatformStatus status = PLATFORM_SUCCESS;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    status = PLATFORM_DEVICE_ERROR;
  } else if (info.st_uid != geteuid()) {
    gJournal.problem = "[ERROR] The journal entry " + path + " belongs to " + HostUserName(info.st_uid) +
                       ", not to " + HostUserName(geteuid()) + " who runs tagforge: nothing was written";
    status = PLATFORM_ACCESS_DENIED;
  }
  char buffer[65536];
  while (status == PLATFORM_SUCCESS) {
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || text->size() + static_cast<size_t>(n) > JOURNAL_ENTRY_MAX) status = PLATFORM_DEVICE_ERROR;
    if (n <= 0) break;
    text->append(buffer, static_cast<size_t>(n));
  }
  gCalls->close(fd);
  return status;
}

}  // namespace

const JournalFileCalls& RealJournalFileCalls() { return kRealCalls; }

const JournalFileCalls& HostJournalFileCalls() { return *gCalls; }

void HostUseJournalFileCalls(const JournalFileCalls* calls) { gCalls = calls != nullptr ? calls : &kRealCalls; }

std::string HostJournalKey(const std::string& bmcName, int32_t fruId) {
  const std::string name = bmcName + "#fru" + std::to_string(fruId);
  std::string key;
  char escaped[4];
  for (unsigned char c : name) {
    if (isalnum(c) || c == '.' || c == '-' || c == '_') {
      key += static_cast<char>(c);
    } else {
      snprintf(escaped, sizeof(escaped), "%%%02X", c);
      key += escaped;
    }
  }
  if (key.size() <= JOURNAL_KEY_MAX) return key;
  char hash[20];
  snprintf(hash, sizeof(hash), "~%016llx", static_cast<unsigned long long>(Fnv1a(name)));
  return key.substr(0, JOURNAL_KEY_HEAD) + hash;
}

PlatformStatus PlatformJournalOpen(int32_t fruId, bool willWrite, const char** problem) {
  *problem = nullptr;
  gJournal = Journal{};
  if (HostBmcName().empty()) return PLATFORM_UNSUPPORTED;
  // The lock first, whatever the journal: two runs on one FRU must never interleave their chunks.
  bool busy = false;
  gJournal.lock = HostLockFruFile(HostJournalKey(HostBmcLockName(), fruId), &busy, &gJournal.problem);
  if (busy) return PLATFORM_ACCESS_DENIED;
  // Kept open and locked until the process ends, however it ends; the FRU itself too where it can be locked.
  if (gJournal.lock < 0 || !HostHoldBmcForRun(willWrite, &gJournal.problem)) {
    *problem = gJournal.problem.c_str();
    return PLATFORM_DEVICE_ERROR;
  }
  const char* setting = getenv("TAGFORGE_JOURNAL");
  if (setting != nullptr && strcmp(setting, "off") == 0) {
    gJournal.off = true;
    gJournal.opened = true;
    return PLATFORM_SUCCESS;
  }
  if (!OpenFolder()) {
    // Said here, once: a listing goes on, and the core says nothing more of it.
    if (!willWrite && gJournal.problem.rfind("[ERROR] No journal folder", 0) != 0) {
      fprintf(stderr, "tagforge: %s; this run goes on without the journal\n", gJournal.problem.c_str() + 8);
    }
    *problem = gJournal.problem.c_str();
    return PLATFORM_NOT_FOUND;
  }
  // Named as the lock is: a FRU file reached by a hard link or through another
  // device (file:, eeprom:, sim:) finds the entry a killed run left under another name.
  gJournal.key = HostJournalKey(HostBmcLockName(), fruId);
  gJournal.opened = true;
  RemoveStaging();
  return PLATFORM_SUCCESS;
}

PlatformStatus PlatformJournalFind(PlatformJournalEntry* entry, const char** problem) {
  *problem = nullptr;
  if (!gJournal.opened || gJournal.off) return PLATFORM_NOT_FOUND;
  std::string text;
  const PlatformStatus status = ReadEntryText(&text);
  if (status == PLATFORM_ACCESS_DENIED) *problem = gJournal.problem.c_str();
  if (status != PLATFORM_SUCCESS) return status;
  return ParseEntry(text, entry) ? PLATFORM_SUCCESS : PLATFORM_DEVICE_ERROR;
}

PlatformStatus PlatformJournalRecord(const PlatformJournalEntry& entry, const char** problem) {
  *problem = nullptr;
  if (!gJournal.opened) return PLATFORM_UNSUPPORTED;
  if (gJournal.off) {
    if (!gSaidOff) fprintf(stderr, "tagforge: TAGFORGE_JOURNAL=off: a run killed mid-write leaves its FRU torn\n");
    gSaidOff = true;
    return PLATFORM_SUCCESS;
  }
  // An initramfs has nowhere better: a warning, not a refusal.
  if (gJournal.inMemory && !gSaidInMemory) {
    fprintf(stderr, "tagforge: the journal folder %s is in memory (%s): a power cut mid-write loses its entry; "
                    "set TAGFORGE_JOURNAL to a folder on a disk\n",
            gJournal.folder.c_str(), gJournal.fileSystem.c_str());
    gSaidInMemory = true;
  }
  const std::string path = EntryPath();
  const std::string staging = StagingPath();
  // Made anew (the lock is held, and a leftover was removed at the open): never written through something planted there.
  const int fd = gCalls->open(staging.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  bool stored = fd >= 0 && WriteAll(fd, EntryText(entry)) && gCalls->fsync(fd) == 0;
  int failure = errno;
  if (fd >= 0) gCalls->close(fd);
  // Renamed whole into place: a run killed while recording leaves no half entry.
  if (stored && gCalls->rename(staging.c_str(), path.c_str()) != 0) {
    stored = false;
    failure = errno;
  }
  if (!stored) {
    gJournal.problem = "[ERROR] The journal entry " + path + " cannot be stored: " + strerror(failure);
    *problem = gJournal.problem.c_str();
    gCalls->unlink(staging.c_str());
    return PLATFORM_DEVICE_ERROR;
  }
  SyncFolder();
  return PLATFORM_SUCCESS;
}

void PlatformJournalRemove() {
  if (!gJournal.opened || gJournal.off) return;
  if (gCalls->unlink(EntryPath().c_str()) == 0) SyncFolder();
}

void PlatformJournalSetAside(const char** keptAs) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  std::strftime(stamp, sizeof(stamp), "%Y%m%dT%H%M%SZ", &parts);
  gJournal.keptAs = gJournal.folder + "/" + gJournal.key + ".set-aside-" + stamp + "-" + std::to_string(getpid()) + ".entry";
  if (gCalls->rename(EntryPath().c_str(), gJournal.keptAs.c_str()) == 0) {
    SyncFolder();
  } else {
    // An entry that cannot be moved would be found again by every run: without it, nothing is lost but the record.
    const std::string why = strerror(errno);
    gCalls->unlink(EntryPath().c_str());
    gJournal.keptAs = "(not kept: " + why + ")";
  }
  *keptAs = gJournal.keptAs.c_str();
}
