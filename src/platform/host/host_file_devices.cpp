#include "platform/host/host_file_devices.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "platform/host/host_erase_non_fru.h"
#include "runtime/print.h"

namespace {

// Get FRU Inventory Area Info's 16 bits: no FRU device reports more.
constexpr uint64_t FRU_FILE_SIZE_MAX = 65535;
// An EEPROM larger than the tool's image (4096 bytes) holds its FRU in its
// first bytes; the rest belongs to others and is never read or written.
constexpr uint64_t FRU_EEPROM_USED_MAX = 4096;

// What the run knows of each byte of the FRU: the device compares the file
// with it before each chunk, so that another program's write is not merged.
enum class Seen : uint8_t { Unknown, Read, Written };
// What a written byte held before the run wrote it, unknown.
constexpr int kNoByte = -1;

int RealOpen(const char* path, int flags) { return ::open(path, flags); }
int RealClose(int fd) { return ::close(fd); }
const FruFileCalls kRealCalls{RealOpen, ::pread, ::pwrite, ::fsync, RealClose};
const FruFileCalls* gRowCalls = &kRealCalls;

// The kernel's name for the chip behind an at24 file ("24c02", "spd"): the
// name of its I2C device, whose folder holds the eeprom file, or holds the
// nvmem device's folder that holds an nvmem file. Empty for a plain file.
std::string KernelDeviceName(const std::string& realPath) {
  const std::filesystem::path file(realPath);
  std::filesystem::path folder = file.parent_path();
  const int folders = file.filename() == "nvmem" ? 2 : 1;
  for (int i = 0; i < folders; ++i, folder = folder.parent_path()) {
    std::ifstream in(folder / "name");
    std::string name;
    if (!in || !std::getline(in, name)) continue;
    while (!name.empty() && (name.back() == ' ' || name.back() == '\r' || name.back() == '\t')) name.pop_back();
    return name;
  }
  return "";
}

// How the lines name the device.
std::string Subject(FruFileKind kind, const std::string& path) {
  return kind == FruFileKind::Image ? path : "The EEPROM at " + path;
}

const char* Prefix(FruFileKind kind) { return kind == FruFileKind::Image ? "file:" : "eeprom:"; }

// Writing a DIMM's SPD can leave the memory unusable: at24 binds DDR3 SPDs as
// "spd", DDR4's have their own driver ("ee1004"), DDR5's hub another ("spd5118").
bool NamesMemoryModuleSpd(const std::string& kernelName) {
  return kernelName.find("spd") != std::string::npos || kernelName == "ee1004";
}

class FruFileDevice final : public HostDevice {
 public:
  FruFileDevice(FruFileKind kind, const std::string& path, const std::string& kernelName, const FruFileCalls& calls,
                int fd, const std::string& writeRefusal)
      : kind_(kind),
        path_(path),
        subject_(Subject(kind, path)),
        kernelName_(kernelName),
        calls_(calls),
        fd_(fd),
        writeRefusal_(writeRefusal) {
    device_ = PlatformFruDevice{IdentifyThrough, AskGuidThrough, SizeThrough, ReadThrough, WriteThrough,
                                FlushThrough,    AnsweringThrough, this,     0};
  }
  ~FruFileDevice() override { calls_.close(fd_); }
  FruFileDevice(const FruFileDevice&) = delete;
  FruFileDevice& operator=(const FruFileDevice&) = delete;

  PlatformFruAccess Access() override {
    return PlatformFruAccess{PlatformFruAccessKind::Device, nullptr, &device_, RefuseWriteThrough, this, RefuseClearThrough};
  }
  // An image file or a card's EEPROM is not this machine's board: BPN without
  // a value must not stamp this machine's SMBIOS board name into it.
  bool Remote() const override { return true; }

  // flock needs no write access; a file open for reading only is never written, so a shared lock does.
  bool HoldForRun(bool writes, std::string* problem) override {
    const bool exclusive = writes && writeRefusal_.empty();
    if (flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return true;
    if (errno == EWOULDBLOCK) {
      *problem = "[ERROR] " + subject_ + " is locked by another program";
      return false;
    }
    if (exclusive) {
      *problem = "[ERROR] " + subject_ + " cannot be locked: " + strerror(errno);
      return false;
    }
    // A read-only network mount may refuse locks: a listing needs none to be right.
    fprintf(stderr, "tagforge: %s cannot be locked (%s): listed without a lock\n", subject_.c_str(), strerror(errno));
    return true;
  }

 private:
  static FruFileDevice* Self(void* context) { return static_cast<FruFileDevice*>(context); }
  static bool IdentifyThrough(void* c, PlatformBmcIdentity* identity) { return Self(c)->Identify(identity); }
  static void AskGuidThrough(void*, PlatformBmcIdentity*) {}
  static PlatformFruSize SizeThrough(void* c, int32_t fruId) { return Self(c)->InventorySize(fruId); }
  static PlatformFruTransfer ReadThrough(void* c, int32_t fruId, size_t offset, size_t count, uint8_t* into) {
    return Self(c)->Read(fruId, offset, count, into);
  }
  static PlatformFruTransfer WriteThrough(void* c, int32_t fruId, size_t offset, const uint8_t* bytes, size_t count) {
    return Self(c)->Write(fruId, offset, bytes, count);
  }
  static bool FlushThrough(void* c) { return Self(c)->Flush(); }
  static bool AnsweringThrough(void*) { return true; }
  static const char* RefuseWriteThrough(void* c, bool holdsFru) { return Self(c)->RefuseWrite(holdsFru); }
  static const char* RefuseClearThrough(void* c, bool holdsFru) { return Self(c)->RefuseClear(holdsFru); }

  // No BMC: nothing to check, and nothing the journal could tell two of them apart by.
  bool Identify(PlatformBmcIdentity* identity) {
    *identity = PlatformBmcIdentity{};
    if (kind_ == FruFileKind::Image) return true;
    if (kernelName_.empty()) {
      Print("FRU EEPROM = %s\n", path_.c_str());
    } else {
      Print("FRU EEPROM = %s (%s)\n", path_.c_str(), kernelName_.c_str());
    }
    return true;
  }

  PlatformFruSize InventorySize(int32_t fruId) {
    if (fruId != 0) {
      Print("[ERROR] %s holds one FRU: use ID=0\n", subject_.c_str());
      return PlatformFruSize{false, 0};
    }
    uint64_t size = 0;
    if (!DeviceSize(&size)) return PlatformFruSize{false, 0};
    if (kind_ == FruFileKind::Eeprom && size > FRU_EEPROM_USED_MAX) size = FRU_EEPROM_USED_MAX;
    if (size == 0) {
      Print("[ERROR] %s is empty\n", subject_.c_str());
      return PlatformFruSize{false, 0};
    }
    if (size > FRU_FILE_SIZE_MAX) {
      Print("[ERROR] %s is %llu bytes, more than a FRU inventory can be (%llu)\n", subject_.c_str(),
            static_cast<unsigned long long>(size), static_cast<unsigned long long>(FRU_FILE_SIZE_MAX));
      return PlatformFruSize{false, 0};
    }
    limit_ = size;
    seen_.assign(size, 0);
    seenAs_.assign(size, Seen::Unknown);
    before_.assign(size, kNoByte);
    return PlatformFruSize{true, static_cast<uint16_t>(size)};
  }

  // at24 gives its eeprom file the chip's size; a file that shows 0 (an nvmem
  // file of another driver) is read to its end, as far as it matters.
  bool DeviceSize(uint64_t* size) {
    struct stat info{};
    if (fstat(fd_, &info) != 0) return SayUnreadable();
    *size = static_cast<uint64_t>(info.st_size);
    if (kind_ == FruFileKind::Image || *size != 0) return true;
    uint8_t bytes[FRU_EEPROM_USED_MAX + 1];
    size_t total = 0;
    while (total < sizeof(bytes)) {
      const ssize_t n = calls_.pread(fd_, bytes + total, sizeof(bytes) - total, static_cast<off_t>(total));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return SayUnreadable();
      if (n == 0) break;
      total += static_cast<size_t>(n);
    }
    *size = total;
    return true;
  }

  bool SayUnreadable() {
    Print("[ERROR] %s cannot be read: %s\n", subject_.c_str(), strerror(errno));
    return false;
  }

  bool Within(int32_t fruId, size_t offset, size_t count) const {
    return fruId == 0 && count > 0 && offset <= limit_ && count <= limit_ - offset;
  }

  // A read that finds bytes the run knows changed by someone else (a read-back
  // in the moment after the flush) says so and keeps what the run knew there:
  // a second pass must not take the other program's bytes for the run's own.
  PlatformFruTransfer Read(int32_t fruId, size_t offset, size_t count, uint8_t* into) {
    if (!Within(fruId, offset, count)) return {PlatformFruOutcome::Failed, 0};
    const bool known = Known(offset, count);
    if (known && Replaced()) {
      SayChangedByRead();  // what the open file holds is no longer what the path names
      return {PlatformFruOutcome::Failed, 0};
    }
    bool ended = false;
    if (!ReadAll(offset, count, into, &ended)) {
      if (!ended || !known) return SayOnce("read");
      SayChangedByRead();  // cut short since the run read it
      return {PlatformFruOutcome::Failed, 0};
    }
    for (size_t i = 0; i < count; ++i) {
      if (ChangedByOthers(offset + i, into[i])) {
        SayChangedByRead();
      } else {
        Remember(offset + i, &into[i], 1, Seen::Read);
      }
    }
    return {PlatformFruOutcome::Done, count};
  }

  // A read cannot stop the write: the next chunk the run asks to write does.
  void SayChangedByRead() {
    const bool first = !changed_;
    SayChanged();
    if (first) writeStopped_ = false;
  }

  // Whether the path now names another file than the one open (a rename over
  // it, as editors and `sed -i` save): the run's bytes would go to no FRU.
  bool Replaced() const {
    struct stat now{};
    struct stat open{};
    if (fstat(fd_, &open) != 0) return false;
    return stat(path_.c_str(), &now) != 0 || now.st_dev != open.st_dev || now.st_ino != open.st_ino;
  }

  void Remember(size_t offset, const uint8_t* bytes, size_t count, Seen how) {
    for (size_t at = offset; at < offset + count; ++at) {
      // What a written byte held before: a read-back that finds it there again saw a write that did not stick.
      if (how == Seen::Written) before_[at] = seenAs_[at] == Seen::Unknown ? kNoByte : seen_[at];
      seen_[at] = bytes[at - offset];
      seenAs_[at] = how;
    }
  }

  bool Known(size_t offset, size_t count) const {
    return std::any_of(seenAs_.begin() + static_cast<long>(offset), seenAs_.begin() + static_cast<long>(offset + count),
                       [](Seen how) { return how != Seen::Unknown; });
  }

  // Whether a byte the run knows now holds neither what the run last read or
  // wrote there nor, for a written byte, what it held before that write (a
  // disk, a chip or a failed write that lost it: the read-back finds those).
  // A byte written unread cannot tell the two apart and is left to the read-back.
  bool ChangedByOthers(size_t at, uint8_t now) const {
    if (seenAs_[at] == Seen::Unknown || now == seen_[at]) return false;
    return seenAs_[at] == Seen::Read || (before_[at] != kNoByte && before_[at] != now);
  }

  // Whether the bytes at offset (those the run knows) are still the run's;
  // false once another program's change is found (said once a run), or with
  // *failed set when they cannot be read at all.
  bool Unchanged(size_t offset, size_t count, bool* failed) {
    if (Replaced()) return SayChanged();
    std::vector<uint8_t> now(count);
    for (size_t done = 0; done < count;) {
      const ssize_t n = calls_.pread(fd_, now.data() + done, count - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *failed = true;
        return false;
      }
      if (n == 0) return SayChanged();  // cut short since the run read it
      done += static_cast<size_t>(n);
    }
    for (size_t i = 0; i < count; ++i) {
      if (ChangedByOthers(offset + i, now[i])) return SayChanged();
    }
    return true;
  }

  bool SayChanged() {
    if (!changed_) Print("[ERROR] %s was changed by another program during the run\n", path_.c_str());
    if (!changed_) writeStopped_ = true;  // by the write or flush that found it
    changed_ = true;
    return false;
  }

  // The system's reason for a failed transfer (a full disk, an I/O error), once
  // a run: the chunk lines that follow say where.
  PlatformFruTransfer SayOnce(const char* what) {
    if (!saidFailure_) Print("[ERROR] %s cannot be %s: %s\n", subject_.c_str(), what, strerror(errno));
    saidFailure_ = true;
    return {PlatformFruOutcome::Failed, 0};
  }

  // Only the bytes asked for, in place: the file is never truncated or
  // recreated, and an EEPROM's bytes past the inventory are never touched.
  PlatformFruTransfer Write(int32_t fruId, size_t offset, const uint8_t* bytes, size_t count) {
    if (!Within(fruId, offset, count) || !writeRefusal_.empty()) return {PlatformFruOutcome::Failed, 0};
    // Compared, then written: a writer that ignores the lock is caught unless it
    // writes in the moment between the two. The change stops the write; the
    // put-back that follows writes only the chunks that still hold this run's
    // bytes, and leaves the others to the other program (its read-back then
    // finds the FRU not back, and says so).
    if (changed_ && !writeStopped_) {
      writeStopped_ = true;
      return {PlatformFruOutcome::NotStored, 0};
    }
    const bool puttingBack = changed_;
    bool failed = false;
    if (!Unchanged(offset, count, &failed)) {
      if (failed) return SayOnce("read");
      return puttingBack ? PlatformFruTransfer{PlatformFruOutcome::Done, count} : PlatformFruTransfer{PlatformFruOutcome::NotStored, 0};
    }
    // A write that fails part way may have put some of its bytes there: either is the run's.
    const bool written = WriteAll(offset, bytes, count);
    Remember(offset, bytes, count, Seen::Written);
    if (!written) return SayOnce("written");
    if (kind_ == FruFileKind::Image) return {PlatformFruOutcome::Done, count};
    // An EEPROM whose write-protect pin is held takes the bytes and keeps its own.
    std::vector<uint8_t> back(count);
    if (!ReadAll(offset, count, back.data())) return SayOnce("read");
    for (size_t i = 0; i < count; ++i) {
      if (!ChangedByOthers(offset + i, back[i])) continue;
      SayChanged();
      return {PlatformFruOutcome::NotStored, 0};
    }
    Remember(offset, back.data(), count, Seen::Read);
    if (memcmp(back.data(), bytes, count) == 0) return {PlatformFruOutcome::Done, count};
    if (!saidProtected_) Print("[ERROR] The EEPROM at %s is write-protected\n", path_.c_str());
    saidProtected_ = true;
    return {PlatformFruOutcome::NotStored, 0};
  }

  bool ReadAll(size_t offset, size_t count, uint8_t* into, bool* ended = nullptr) {
    for (size_t done = 0; done < count;) {
      const ssize_t n = calls_.pread(fd_, into + done, count - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 && ended != nullptr) *ended = true;
      if (n == 0) errno = EIO;  // the file ended or took nothing: no reason of the system's own
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  bool WriteAll(size_t offset, const uint8_t* bytes, size_t count) {
    for (size_t done = 0; done < count;) {
      const ssize_t n = calls_.pwrite(fd_, bytes + done, count - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) errno = EIO;  // the file ended or took nothing: no reason of the system's own
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // "done." only once the bytes are on the disk. at24 has written them to the
  // chip before its write returns, and sysfs has no fsync to offer.
  bool Flush() {
    if (calls_.fsync(fd_) != 0 && !(kind_ == FruFileKind::Eeprom && (errno == EINVAL || errno == EROFS))) {
      Print("[ERROR] %s could not be synced to disk: %s\n", subject_.c_str(), strerror(errno));
      return false;
    }
    // Every byte the run knows is checked once they are on the disk: no chunk
    // compares the bytes it only read, and another program's write during the
    // sync would pass the read-back where it landed on the run's own bytes.
    bool failed = false;
    if (!changed_ && limit_ > 0 && !Unchanged(0, limit_, &failed)) {
      if (failed) Print("[ERROR] %s cannot be read: %s\n", subject_.c_str(), strerror(errno));
      return false;
    }
    return true;
  }

  const char* RefuseWrite(bool holdsFru) {
    if (!holdsFru) {
      refusal_ = "[ERROR] " + subject_ + " holds no FRU data";
    } else if (!writeRefusal_.empty()) {
      refusal_ = "[ERROR] " + subject_ + " cannot be written: " + writeRefusal_;
    } else {
      return nullptr;
    }
    return refusal_.c_str();
  }

  // A chip that holds no FRU is cleared only when TAGFORGE_ERASE_NON_FRU names it too.
  const char* RefuseClear(bool holdsFru) {
    if (holdsFru || !writeRefusal_.empty()) return RefuseWrite(holdsFru);
    const EraseNonFruAnswer answer = HostEraseNonFru(path_, fd_, kernelName_);
    uint8_t first[16];
    const size_t count = limit_ < sizeof(first) ? limit_ : sizeof(first);
    if (answer.confirmed && ReadAll(0, count, first)) {
      Print("%s\n", EraseNonFruNotice(path_, first, count).c_str());
      return nullptr;
    }
    RefuseWrite(holdsFru);
    if (!answer.otherDevice.empty()) refusal_ += " (" + answer.otherDevice + ")";
    return refusal_.c_str();
  }

  const FruFileKind kind_;
  const std::string path_;     // as the user wrote it
  const std::string subject_;
  const std::string kernelName_;
  const FruFileCalls& calls_;
  const int fd_;
  // Why the file is open for reading only (the kernel refused write access); empty when writable.
  const std::string writeRefusal_;
  PlatformFruDevice device_{};
  uint64_t limit_ = 0;  // the inventory size, once reported: nothing past it is read or written
  bool saidProtected_ = false;
  bool saidFailure_ = false;
  bool changed_ = false;  // another program's change was found and said
  bool writeStopped_ = false;  // a write has been refused since: what follows is the put-back
  std::vector<uint8_t> seen_;  // what the run last read or wrote at each offset of the inventory
  std::vector<Seen> seenAs_;
  std::vector<int> before_;  // what each written byte held before the run's last write there, or kNoByte
  std::string refusal_;
};

}  // namespace

const FruFileCalls& RealFruFileCalls() { return kRealCalls; }

void HostUseFruFileCalls(const FruFileCalls* calls) { gRowCalls = calls != nullptr ? calls : &kRealCalls; }

bool OpenFruFile(FruFileKind kind, const std::string& path, const FruFileCalls& calls, HostOpened* opened,
                 std::string* error) {
  // Not the row's form: the choice lists the forms it takes.
  if (path.empty()) return false;
  const std::string subject = Subject(kind, path);
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) {
    *error = "[ERROR] " + subject + " cannot be opened: " + strerror(errno);
    return false;
  }
  const std::string realPath = resolved;
  free(resolved);
  // Checked before opening: a FIFO or a device node could block the open or answer with anything.
  struct stat info{};
  if (stat(realPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = "[ERROR] " + subject + " is not a file";
    return false;
  }
  std::string kernelName;
  if (kind == FruFileKind::Eeprom) {
    kernelName = KernelDeviceName(realPath);
    if (NamesMemoryModuleSpd(kernelName)) {
      *error = "[ERROR] " + path + " is a memory module's SPD EEPROM";
      return false;
    }
  }
  // A file the kernel will not let us write (an at24 chip bound read-only,
  // a golden image kept read-only) is still listed; edits are refused.
  std::string writeRefusal;
  int fd = calls.open(realPath.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY)) {
    writeRefusal = strerror(errno);
    fd = calls.open(realPath.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) {
    *error = "[ERROR] " + subject + " cannot be opened: " + strerror(errno);
    return false;
  }
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    calls.close(fd);
    *error = "[ERROR] " + subject + " is not a file";
    return false;
  }
  opened->device = std::make_unique<FruFileDevice>(kind, path, kernelName, calls, fd, writeRefusal);
  opened->name = Prefix(kind) + realPath;
  // One file is one FRU by whichever device and path it is reached (sim:,
  // file:, a hard link): the lock is the simulated BMC's own for that file.
  opened->lockName = "sim-file:" + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  return true;
}

bool OpenFruFileDevice(const std::string& suffix, const HostRoots&, HostOpened* opened, std::string* error) {
  return OpenFruFile(FruFileKind::Image, suffix, *gRowCalls, opened, error);
}

bool OpenFruEepromDevice(const std::string& suffix, const HostRoots&, HostOpened* opened, std::string* error) {
  return OpenFruFile(FruFileKind::Eeprom, suffix, *gRowCalls, opened, error);
}
