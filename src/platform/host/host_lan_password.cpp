#include "platform/host/host_lan_password.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Every password object alive, so that the exit handler can reach them all.
LanPassword* gLivePasswords = nullptr;
bool gExitHandlerSet = false;
// What the process was before it first held a password; -1 while it holds none.
int gDumpableBefore = -1;

// The longest first line, a CR and an LF, and one byte more to tell a longer line.
constexpr size_t PASSWORD_READ_SIZE = LAN_PASSWORD_MAX + 3;

void ClearAllAtExit() { LanPassword::ClearAll(); }

void KeepOutOfDumps() {
  if (gDumpableBefore >= 0) return;
  gDumpableBefore = prctl(PR_GET_DUMPABLE, 0, 0, 0, 0);
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

void AllowDumpsAgain() {
  if (gDumpableBefore < 0) return;
  if (gDumpableBefore > 0) prctl(PR_SET_DUMPABLE, gDumpableBefore, 0, 0, 0);
  gDumpableBefore = -1;
}

std::string FileError(const std::string& path, const std::string& what) {
  return "[ERROR] TAGFORGE_LAN_PASSWORD_FILE " + path + " " + what;
}

// Why the open descriptor does not name a file we may take a password from; empty when it does.
std::string Unsuitable(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) return "is a directory, not a file";
  if (S_ISFIFO(info.st_mode)) return "is a FIFO, not a file";
  if (!S_ISREG(info.st_mode)) return "is not a regular file";
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    return "can be read by other users; make it readable by its owner only (chmod 600)";
  }
  return "";
}

// Reads until size bytes, the end of the file or an error (-1).
ssize_t ReadUpTo(int fd, char* buffer, size_t size) {
  size_t filled = 0;
  while (filled < size) {
    const ssize_t got = read(fd, buffer + filled, size - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(filled);
}

// The length of the first line of the bytes read, without its CR LF or LF;
// more than LAN_PASSWORD_MAX when the line does not end within them.
size_t FirstLineLength(const char* bytes, size_t filled) {
  const void* newline = memchr(bytes, '\n', filled);
  if (newline == nullptr && filled == PASSWORD_READ_SIZE) return PASSWORD_READ_SIZE;
  size_t length = newline == nullptr ? filled : static_cast<size_t>(static_cast<const char*>(newline) - bytes);
  if (length > 0 && bytes[length - 1] == '\r') --length;
  return length;
}

bool TakeFirstLine(int fd, const std::string& path, LanPassword* password, std::string* error) {
  char bytes[PASSWORD_READ_SIZE];
  const ssize_t filled = ReadUpTo(fd, bytes, sizeof(bytes));
  bool taken = false;
  if (filled < 0) {
    *error = FileError(path, std::string("cannot be read: ") + strerror(errno));
  } else {
    const size_t length = FirstLineLength(bytes, static_cast<size_t>(filled));
    if (length == 0) {
      *error = FileError(path, "holds no password on its first line");
    } else if (!password->Assign(bytes, length)) {
      *error = FileError(path, "holds a password longer than " + std::to_string(LAN_PASSWORD_MAX) + " bytes, the most an IPMI 2.0 session takes");
    } else {
      taken = true;
    }
  }
  explicit_bzero(bytes, sizeof(bytes));
  return taken;
}

}  // namespace

LanPassword::LanPassword() {
  if (!gExitHandlerSet) gExitHandlerSet = atexit(ClearAllAtExit) == 0;
  Link();
}

LanPassword::~LanPassword() {
  Clear();
  Unlink();
}

LanPassword::LanPassword(LanPassword&& other) noexcept : LanPassword() { *this = std::move(other); }

LanPassword& LanPassword::operator=(LanPassword&& other) noexcept {
  if (this == &other) return *this;
  Clear();
  memcpy(text_, other.text_, sizeof(text_));
  length_ = other.length_;
  other.Clear();
  UpdateDumpable();
  return *this;
}

bool LanPassword::Assign(const char* text, size_t length) {
  Clear();
  if (length > LAN_PASSWORD_MAX) return false;
  memcpy(text_, text, length);
  text_[length] = '\0';
  length_ = length;
  UpdateDumpable();
  return true;
}

void LanPassword::Clear() {
  explicit_bzero(text_, sizeof(text_));
  length_ = 0;
  UpdateDumpable();
}

void LanPassword::ClearAll() {
  for (LanPassword* p = gLivePasswords; p != nullptr; p = p->next_) p->Clear();
}

void LanPassword::UpdateDumpable() {
  for (const LanPassword* p = gLivePasswords; p != nullptr; p = p->next_) {
    if (p->length_ > 0) {
      KeepOutOfDumps();
      return;
    }
  }
  AllowDumpsAgain();
}

void LanPassword::Link() {
  next_ = gLivePasswords;
  if (next_ != nullptr) next_->previous_ = this;
  gLivePasswords = this;
}

void LanPassword::Unlink() {
  if (previous_ != nullptr) previous_->next_ = next_;
  else gLivePasswords = next_;
  if (next_ != nullptr) next_->previous_ = previous_;
}

bool ReadLanPasswordFile(const std::string& path, LanPassword* password, std::string* error) {
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer before we could refuse it.
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = errno == ELOOP ? FileError(path, "is a symbolic link; name the file itself")
                            : FileError(path, std::string("cannot be read: ") + strerror(errno));
    return false;
  }
  struct stat info{};
  std::string why = fstat(fd, &info) != 0 ? std::string("cannot be read: ") + strerror(errno) : Unsuitable(info);
  const bool taken = why.empty() && TakeFirstLine(fd, path, password, error);
  if (!why.empty()) *error = FileError(path, why);
  close(fd);
  return taken;
}

bool TakeLanPasswordFromEnvironment(const char* name, LanPassword* password, std::string* error) {
  char* value = getenv(name);
  if (value == nullptr) {
    password->Clear();
    return true;
  }
  const size_t length = strlen(value);
  const bool taken = password->Assign(value, length);
  explicit_bzero(value, length);
  unsetenv(name);
  if (!taken) *error = std::string("[ERROR] ") + name + " is longer than " + std::to_string(LAN_PASSWORD_MAX) + " bytes, the most an IPMI 2.0 session takes";
  return taken;
}
