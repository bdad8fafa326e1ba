// The FRU devices with no BMC in front (file:PATH, eeprom:PATH) on plain files
// in a scratch folder, laid out as sysfs lays out an at24 chip where it
// matters; what a file cannot do by itself (a write-protect pin, a kernel that
// refuses write access, a failing fsync) comes from stand-in system calls.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <vector>

#include "bmc/fru_update.h"
#include "platform/host/host_bmc.h"
#include "platform/host/host_console.h"
#include "platform/host/host_erase_non_fru.h"
#include "platform/host/host_file_devices.h"
#include "platform/host/host_journal.h"
#include "platform/platform.h"
#include "platform/print.h"
#include "simulated_bmc.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// The chip's pins and the kernel's answers, as the stand-in calls see them.
struct FakeChip {
  size_t protectedFrom = SIZE_MAX;  // writes at and past this offset are taken and ignored (a write-protect pin)
  size_t keptByte = SIZE_MAX;       // a write over this offset keeps its old byte (a page write that loses one)
  bool readOnly = false;        // the kernel refuses write access (an at24 chip bound 0444)
  int fsyncErrno = 0;
  int fsyncs = 0;
  const Bytes* contents = nullptr;  // read from here instead of the file (an nvmem file that stats as 0)
  // The journal's disk: its call (as calls names it) that fails with failErrno, and its locks.
  std::string failing;
  int failErrno = 0;
  std::map<int, std::string> journalFiles;
  std::vector<int> locks;
  // In order: the FRU's chunks ("chunks" once for a run of them), its flushes and the journal's calls.
  std::vector<std::string> calls;
  // Another program that ignores the lock writes meddleImage over the file, first cutting it to nothing
  // when meddleTruncates, once the FRU's or the journal's call `meddleAt` has been made meddleNth times:
  // "lock" (the run opens its lock file: another run has just finished), "entry" (the journal's entry is in
  // place: the first chunk comes next), "pwrite" (a chunk is written),
  // "fsync" (the FRU's bytes are being synced), or "pread" (counted from the first fsync, met before it).
  const char* meddleAt = "";
  int meddleNth = 0;
  bool meddleTruncates = false;
  std::vector<uint8_t> meddleImage;
  size_t meddleOffset = 0;  // where meddleImage goes
  bool meddleRenames = false;  // a new file renamed over the path instead (as editors save)
  int meddleErrno = 0;         // a pread that fails with it instead (a disk error, no program)
  int meddleCalls = 0;
  bool synced = false;
};
FakeChip gChip;

std::string gChipPath;  // the FRU's file, for a meddling that comes from the journal's calls

void Note(const std::string& call) {
  if (call != "chunks" || gChip.calls.empty() || gChip.calls.back() != call) gChip.calls.push_back(call);
}

// False when the call is to fail with meddleErrno instead.
bool MeddleAt(const char* call) {
  if (strcmp(call, "fsync") == 0) gChip.synced = true;
  if (strcmp(call, gChip.meddleAt) != 0 || (strcmp(call, "pread") == 0 && !gChip.synced)) return true;
  if (++gChip.meddleCalls != gChip.meddleNth) return true;
  if (gChip.meddleErrno != 0) {
    errno = gChip.meddleErrno;
    return false;
  }
  const std::string path = gChip.meddleRenames ? gChipPath + ".new" : gChipPath;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | (gChip.meddleTruncates ? O_TRUNC : 0), 0644);
  const auto size = static_cast<ssize_t>(gChip.meddleImage.size());
  const auto at = static_cast<off_t>(gChip.meddleOffset);
  if (fd < 0 || ::pwrite(fd, gChip.meddleImage.data(), gChip.meddleImage.size(), at) != size) abort();
  ::close(fd);
  if (gChip.meddleRenames && ::rename(path.c_str(), gChipPath.c_str()) != 0) abort();
  return true;
}

int FakeOpen(const char* path, int flags) {
  if (gChip.readOnly && (flags & O_ACCMODE) != O_RDONLY) {
    errno = EACCES;
    return -1;
  }
  return ::open(path, flags);
}
ssize_t FakePread(int fd, void* into, size_t count, off_t offset) {
  if (!MeddleAt("pread")) return -1;
  if (gChip.contents == nullptr) return ::pread(fd, into, count, offset);
  const size_t size = gChip.contents->size();
  const size_t from = std::min(size, static_cast<size_t>(offset));
  const size_t n = std::min(count, size - from);
  memcpy(into, gChip.contents->data() + from, n);
  return static_cast<ssize_t>(n);
}
ssize_t FakePwrite(int fd, const void* bytes, size_t count, off_t offset) {
  Note("chunks");
  const size_t from = static_cast<size_t>(offset);
  if (from >= gChip.protectedFrom) return static_cast<ssize_t>(count);
  uint8_t old = 0;
  const bool keeps = gChip.keptByte - from < count && ::pread(fd, &old, 1, static_cast<off_t>(gChip.keptByte)) == 1;
  const ssize_t n = ::pwrite(fd, bytes, count, offset);
  if (keeps && n == static_cast<ssize_t>(count)) ::pwrite(fd, &old, 1, static_cast<off_t>(gChip.keptByte));
  MeddleAt("pwrite");
  return n;
}
int FakeFsync(int fd) {
  Note("flush");
  ++gChip.fsyncs;
  if (gChip.fsyncErrno == 0) {
    const int synced = ::fsync(fd);
    MeddleAt("fsync");  // while the sync is under way: seen only after it
    return synced;
  }
  errno = gChip.fsyncErrno;
  return -1;
}
const FruFileCalls kFakeCalls{FakeOpen, FakePread, FakePwrite, FakeFsync, ::close};

// The journal's calls: each file by its part ("staging", "entry", "folder"), noted, and failed when asked.
std::string JournalFile(const std::string& path) {
  for (const char* part : {".entry.new", ".entry", ".lock"}) {
    if (path.size() > strlen(part) && path.compare(path.size() - strlen(part), strlen(part), part) == 0) {
      return std::string(part) == ".entry.new" ? "staging" : part + 1;
    }
  }
  return "folder";
}
bool Fails(const std::string& call) {
  Note(call);
  if (call != gChip.failing) return false;
  errno = gChip.failErrno;
  return true;
}
int JournalOpen(const char* path, int flags, mode_t mode) {
  if (JournalFile(path) == "lock") MeddleAt("lock");
  const int fd = ::open(path, flags, mode);
  if (fd >= 0) gChip.journalFiles[fd] = JournalFile(path);
  if (fd >= 0 && JournalFile(path) == "lock") gChip.locks.push_back(fd);
  return fd;
}
ssize_t JournalWrite(int fd, const void* bytes, size_t count) {
  return Fails("write " + gChip.journalFiles[fd]) ? -1 : ::write(fd, bytes, count);
}
int JournalFsync(int fd) {
  if (Fails("fsync " + gChip.journalFiles[fd])) return -1;
  if (gChip.journalFiles[fd] == "folder") MeddleAt("entry");
  return ::fsync(fd);
}
int JournalRename(const char* from, const char* to) {
  return Fails("rename " + JournalFile(from) + " " + JournalFile(to)) ? -1 : ::rename(from, to);
}
int JournalUnlink(const char* path) { return Fails("unlink " + JournalFile(path)) ? -1 : ::unlink(path); }
const JournalFileCalls kJournalCalls{JournalOpen, JournalWrite, JournalFsync, ::close, JournalRename, JournalUnlink};

// What a write holds from the moment it begins (PlatformHoldInterruptions).
constexpr int kHeldSignals[] = {SIGINT, SIGTERM, SIGHUP};

Bytes Pattern(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return bytes;
}

class FileDevices : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tagforge-file-devices-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    gChip = FakeChip{};
    ForgetConsoleErrorLines();
    AttachConsole();
    HostConsoleCapture(&console_);
  }
  void TearDown() override {
    HostConsoleCapture(nullptr);
    opened_ = HostOpened{};
    fs::remove_all(dir_);
  }

  std::string Put(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_ + "/" + name;
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
  }
  std::string PutText(const std::string& name, const std::string& text) { return Put(name, Bytes(text.begin(), text.end())); }
  static Bytes Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Opens the device; the test fails with the open's line when it cannot.
  const PlatformFruDevice& Open(FruFileKind kind, const std::string& path) {
    std::string error;
    EXPECT_TRUE(OpenFruFile(kind, path, kFakeCalls, &opened_, &error)) << error;
    access_ = opened_.device->Access();
    return *access_.device;
  }
  std::string OpenError(FruFileKind kind, const std::string& path) {
    std::string error;
    HostOpened opened;
    EXPECT_FALSE(OpenFruFile(kind, path, kFakeCalls, &opened, &error));
    return error;
  }
  std::string TakeConsole() {
    std::string text;
    text.swap(console_);
    return text;
  }

  // The whole tool in-process, as `TAGFORGE_BMC=DEVICE tagforge ARGS` runs, its journal in the scratch folder.
  int RunTool(const std::string& device, std::vector<std::string> args) {
    setenv("TAGFORGE_BMC", device.c_str(), 1);
    setenv("TAGFORGE_JOURNAL", (dir_ + "/journal").c_str(), 1);
    HostUseFruFileCalls(&kFakeCalls);
    HostUseJournalFileCalls(&kJournalCalls);
    struct sigaction held[std::size(kHeldSignals)];
    for (size_t i = 0; i < std::size(kHeldSignals); ++i) sigaction(kHeldSignals[i], nullptr, &held[i]);
    std::string error;
    EXPECT_TRUE(HostChooseBmc(&error)) << error;
    args.insert(args.begin(), "tagforge");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    const int status = TagforgeMain(static_cast<int>(argv.size()), argv.data());
    HostUseSimulatedBmc(nullptr);  // the device is closed
    HostUseFruFileCalls(nullptr);
    HostUseJournalFileCalls(nullptr);
    // The process would end here: its signals and its lock go with it.
    for (size_t i = 0; i < std::size(kHeldSignals); ++i) sigaction(kHeldSignals[i], &held[i], nullptr);
    for (int lock : gChip.locks) ::close(lock);
    unsetenv("TAGFORGE_BMC");
    unsetenv("TAGFORGE_JOURNAL");
    return status;
  }

  std::string dir_;
  std::string console_;
  HostOpened opened_;
  PlatformFruAccess access_{};
};

TEST_F(FileDevices, AMissingFileAFolderOrAMemoryModulesSpdIsRefusedAtOpen) {
  PutText("i2c-0/0-0050/name", "spd\n");
  Put("i2c-0/0-0050/eeprom", Bytes(256, 0xFF));
  PutText("i2c-0/0-0051/name", "ee1004\n");
  Put("i2c-0/0-0051/eeprom", Bytes(512, 0x92));
  // An nvmem device sits in a folder of its own under the I2C device that names the chip (a DDR5 SPD hub).
  PutText("i2c-0/0-0052/name", "spd5118\n");
  Put("i2c-0/0-0052/0-00520/nvmem", Bytes(256, 0xFF));
  // What /sys/bus/i2c/devices/0-0050 is: a link to the device's real folder.
  fs::create_directories(dir_ + "/bus");
  fs::create_directory_symlink(dir_ + "/i2c-0/0-0050", dir_ + "/bus/0-0050");
  const std::string d = dir_;
  struct Row {
    FruFileKind kind;
    std::string path;
    std::string line;
  } rows[] = {
      {FruFileKind::Eeprom, d + "/i2c-0/0-0050/eeprom", "[ERROR] " + d + "/i2c-0/0-0050/eeprom is a memory module's SPD EEPROM"},
      {FruFileKind::Eeprom, d + "/i2c-0/0-0051/eeprom", "[ERROR] " + d + "/i2c-0/0-0051/eeprom is a memory module's SPD EEPROM"},
      {FruFileKind::Eeprom, d + "/i2c-0/0-0052/0-00520/nvmem",
       "[ERROR] " + d + "/i2c-0/0-0052/0-00520/nvmem is a memory module's SPD EEPROM"},
      {FruFileKind::Eeprom, d + "/bus/0-0050/eeprom", "[ERROR] " + d + "/bus/0-0050/eeprom is a memory module's SPD EEPROM"},
      {FruFileKind::Eeprom, d + "/none", "[ERROR] The EEPROM at " + d + "/none cannot be opened: No such file or directory"},
      {FruFileKind::Image, d + "/none", "[ERROR] " + d + "/none cannot be opened: No such file or directory"},
      {FruFileKind::Image, d + "/i2c-0", "[ERROR] " + d + "/i2c-0 is not a file"},
      // Not the row's form: the choice prints the line that lists every accepted form.
      {FruFileKind::Image, "", ""},
      {FruFileKind::Eeprom, "", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(OpenError(row.kind, row.path), row.line) << row.path;
  EXPECT_EQ(TakeConsole(), "");
}

TEST_F(FileDevices, NamesAndLocksFollowTheRealFileHoweverItIsWritten) {
  const std::string path = Put("fru.bin", Bytes(256, 0x00));
  fs::create_symlink(path, dir_ + "/link.bin");
  fs::create_hard_link(path, dir_ + "/hard.bin");
  const std::string real = fs::canonical(path).string();
  struct Row {
    FruFileKind kind;
    std::string path;
    std::string name;
  } rows[] = {
      {FruFileKind::Image, path, "file:" + real},
      {FruFileKind::Image, dir_ + "/./link.bin", "file:" + real},
      {FruFileKind::Eeprom, dir_ + "/link.bin", "eeprom:" + real},
      {FruFileKind::Image, dir_ + "/hard.bin", "file:" + fs::canonical(dir_ + "/hard.bin").string()},
  };
  std::string lockName;
  for (const Row& row : rows) {
    Open(row.kind, row.path);
    EXPECT_EQ(opened_.name, row.name);
    // One file is one lock, whichever way and whichever device reaches it.
    if (lockName.empty()) lockName = opened_.lockName;
    EXPECT_EQ(opened_.lockName, lockName) << row.path;
  }
  EXPECT_EQ(lockName.rfind("sim-file:", 0), 0u) << lockName;
}

TEST_F(FileDevices, IdentityIsAnEepromLineOrNothingAndNeverAGuid) {
  PutText("0-0050/name", "24c02\n");
  const std::string named = Put("0-0050/eeprom", Bytes(256, 0xFF));
  const std::string plain = Put("fru.bin", Bytes(256, 0xFF));
  struct Row {
    FruFileKind kind;
    std::string path;
    std::string console;
  } rows[] = {
      {FruFileKind::Image, plain, ""},
      {FruFileKind::Image, named, ""},
      {FruFileKind::Eeprom, named, "FRU EEPROM = " + named + " (24c02)\n"},
      {FruFileKind::Eeprom, plain, "FRU EEPROM = " + plain + "\n"},
  };
  for (const Row& row : rows) {
    const PlatformFruDevice& device = Open(row.kind, row.path);
    PlatformBmcIdentity identity;
    memset(&identity, 0xA5, sizeof(identity));
    EXPECT_TRUE(device.Identify(device.context, &identity));
    device.AskGuid(device.context, &identity);
    EXPECT_EQ(identity.manufacturer, 0u);
    EXPECT_EQ(identity.product, 0u);
    EXPECT_FALSE(identity.hasGuid);
    EXPECT_EQ(TakeConsole(), row.console);
    EXPECT_TRUE(device.Answering(device.context));
    EXPECT_EQ(device.readGrowthMax, 0u);
    EXPECT_EQ(access_.kind, PlatformFruAccessKind::Device);
    EXPECT_TRUE(opened_.device->Remote());  // its board is not this machine's
  }
}

TEST_F(FileDevices, TheInventoryIsTheFileUpToWhatAFruCanBe) {
  const Bytes big = Pattern(5000);
  struct Row {
    FruFileKind kind;
    size_t fileSize;
    int32_t fruId;
    const Bytes* chip;  // what an nvmem file that stats as 0 bytes reads as
    bool known;
    uint16_t size;
    std::string console;  // PATH for the file's path
  } rows[] = {
      {FruFileKind::Image, 512, 0, nullptr, true, 512, ""},
      {FruFileKind::Image, 1, 0, nullptr, true, 1, ""},
      {FruFileKind::Image, 5000, 0, nullptr, true, 5000, ""},  // the core refuses it with its own line
      {FruFileKind::Image, 65535, 0, nullptr, true, 65535, ""},
      {FruFileKind::Image, 65536, 0, nullptr, false, 0,
       "[ERROR] PATH is 65536 bytes, more than a FRU inventory can be (65535)\n"},
      {FruFileKind::Image, 0, 0, nullptr, false, 0, "[ERROR] PATH is empty\n"},
      {FruFileKind::Image, 512, 1, nullptr, false, 0, "[ERROR] PATH holds one FRU: use ID=0\n"},
      {FruFileKind::Eeprom, 256, 0, nullptr, true, 256, ""},
      {FruFileKind::Eeprom, 2048, 0, nullptr, true, 2048, ""},
      {FruFileKind::Eeprom, 8192, 0, nullptr, true, 4096, ""},
      {FruFileKind::Eeprom, 131072, 0, nullptr, true, 4096, ""},
      {FruFileKind::Eeprom, 0, 0, &big, true, 4096, ""},
      {FruFileKind::Eeprom, 0, 0, nullptr, false, 0, "[ERROR] The EEPROM at PATH is empty\n"},
      {FruFileKind::Eeprom, 256, 3, nullptr, false, 0, "[ERROR] The EEPROM at PATH holds one FRU: use ID=0\n"},
      {FruFileKind::Eeprom, 256, -1, nullptr, false, 0, "[ERROR] The EEPROM at PATH holds one FRU: use ID=0\n"},
  };
  for (const Row& row : rows) {
    const std::string path = Put("fru.bin", Bytes(row.fileSize, 0x00));
    gChip.contents = row.chip;
    const PlatformFruDevice& device = Open(row.kind, path);
    const PlatformFruSize size = device.InventorySize(device.context, row.fruId);
    std::string console = row.console;
    if (size_t at = console.find("PATH"); at != std::string::npos) console.replace(at, 4, path);
    EXPECT_EQ(size.known, row.known) << row.fileSize << " id " << row.fruId;
    EXPECT_EQ(size.size, row.size) << row.fileSize << " id " << row.fruId;
    EXPECT_EQ(TakeConsole(), console);
  }
}

// Reads and writes are the ranges asked for, in place: nothing past the
// inventory is ever read or written, and the file keeps its size.
TEST_F(FileDevices, TransfersStayWithinTheInventory) {
  const Bytes original = Pattern(8192);
  const Bytes chunk(32, 0xEE);
  struct Row {
    FruFileKind kind;
    int32_t fruId;
    size_t offset;
    size_t count;
    PlatformFruOutcome outcome;
  } rows[] = {
      {FruFileKind::Image, 0, 0, 32, PlatformFruOutcome::Done},
      {FruFileKind::Image, 0, 4064, 32, PlatformFruOutcome::Done},  // a 5000-byte file: the core refuses it first
      {FruFileKind::Image, 0, 4990, 32, PlatformFruOutcome::Failed},
      {FruFileKind::Image, 1, 0, 32, PlatformFruOutcome::Failed},
      {FruFileKind::Eeprom, 0, 4064, 32, PlatformFruOutcome::Done},
      {FruFileKind::Eeprom, 0, 4080, 32, PlatformFruOutcome::Failed},
      {FruFileKind::Eeprom, 0, 4096, 32, PlatformFruOutcome::Failed},
      {FruFileKind::Eeprom, 0, 100, 0, PlatformFruOutcome::Failed},
  };
  for (const Row& row : rows) {
    const size_t fileSize = row.kind == FruFileKind::Image ? 5000 : 8192;
    const Bytes before(original.begin(), original.begin() + fileSize);
    const std::string path = Put("fru.bin", before);
    const PlatformFruDevice& device = Open(row.kind, path);
    ASSERT_TRUE(device.InventorySize(device.context, 0).known);
    TakeConsole();
    uint8_t into[32];
    const PlatformFruTransfer read = device.Read(device.context, row.fruId, row.offset, row.count, into);
    const PlatformFruTransfer write = device.Write(device.context, row.fruId, row.offset, chunk.data(), row.count);
    EXPECT_EQ(read.outcome, row.outcome) << "read at " << row.offset;
    EXPECT_EQ(write.outcome, row.outcome) << "write at " << row.offset;
    Bytes expected = before;
    if (row.outcome == PlatformFruOutcome::Done) {
      EXPECT_EQ(read.count, row.count);
      EXPECT_EQ(write.count, row.count);
      EXPECT_EQ(Bytes(into, into + row.count), Bytes(before.begin() + row.offset, before.begin() + row.offset + row.count));
      std::copy(chunk.begin(), chunk.end(), expected.begin() + row.offset);
    }
    EXPECT_TRUE(device.Flush(device.context));
    EXPECT_EQ(Contents(path), expected) << "at " << row.offset;
    EXPECT_EQ(TakeConsole(), "");
  }
}

TEST_F(FileDevices, AnEepromThatKeepsItsBytesIsWriteProtectedOncePerRun) {
  const Bytes original = Pattern(256);
  const std::string path = Put("0-0050/eeprom", original);
  gChip.protectedFrom = 0;
  const PlatformFruDevice& device = Open(FruFileKind::Eeprom, path);
  ASSERT_TRUE(device.InventorySize(device.context, 0).known);
  const Bytes chunk(32, 0x11);
  for (size_t offset : {0u, 64u}) {
    EXPECT_EQ(device.Write(device.context, 0, offset, chunk.data(), chunk.size()).outcome, PlatformFruOutcome::NotStored);
  }
  EXPECT_EQ(TakeConsole(), "[ERROR] The EEPROM at " + path + " is write-protected\n");
  ASSERT_EQ(ConsoleErrorLineCount(), 1);
  EXPECT_EQ(std::string(ConsoleErrorLine(0)), "[ERROR] The EEPROM at " + path + " is write-protected");
  // The original written back over what did not change reads back equal: the restore is done.
  const Bytes same(original.begin(), original.begin() + 32);
  EXPECT_EQ(device.Write(device.context, 0, 0, same.data(), same.size()).outcome, PlatformFruOutcome::Done);
  EXPECT_EQ(Contents(path), original);
  // Without the pin the same write sticks.
  gChip.protectedFrom = SIZE_MAX;
  const PlatformFruDevice& writable = Open(FruFileKind::Eeprom, path);
  ASSERT_TRUE(writable.InventorySize(writable.context, 0).known);
  EXPECT_EQ(writable.Write(writable.context, 0, 32, chunk.data(), chunk.size()).outcome, PlatformFruOutcome::Done);
  Bytes expected = original;
  std::copy(chunk.begin(), chunk.end(), expected.begin() + 32);
  EXPECT_EQ(Contents(path), expected);
  EXPECT_EQ(TakeConsole(), "");
}

// The core's write over the device: what the pin let through is put back, and
// the run never hears that the write was done; done is flushed to the disk.
TEST_F(FileDevices, AWriteThatDoesNotStickIsUndoneAndNeverDone) {
  const Bytes original = Pattern(256);
  Bytes wanted = original;
  for (size_t i = 40; i < 256; ++i) wanted[i] = 0x5A;  // chunks 1 to 7, the last one included
  const std::string restored = "[ERROR] The write failed; the FRU holds its original data again\n";
  const std::string pin = "[ERROR] The EEPROM at PATH is write-protected\n";
  const std::string unsynced = "[ERROR] PATH could not be synced to disk: Input/output error\n";
  struct Row {
    FruFileKind kind;
    size_t protectedFrom;
    size_t keptByte;
    int fsyncErrno;
    FruWriteOutcome outcome;
    int fsyncs;
    std::string console;  // PATH for the file's path
  } rows[] = {
      // The pin held from the start: the refused chunk is written back as it was.
      {FruFileKind::Eeprom, 0, SIZE_MAX, 0, FruWriteOutcome::Restored, 1,
       pin + "Restore FRU data 32 bytes\n" + restored},
      // Chunks 1 to 3 written, then the pin: they and the refused one are put back.
      {FruFileKind::Eeprom, 128, SIZE_MAX, 0, FruWriteOutcome::Restored, 1,
       pin + "Restore FRU data 128 bytes\n" + restored},
      // Everything but the last chunk, or the last chunk but its last byte.
      {FruFileKind::Eeprom, 224, SIZE_MAX, 0, FruWriteOutcome::Restored, 1,
       pin + "Restore FRU data 224 bytes\n" + restored},
      {FruFileKind::Eeprom, SIZE_MAX, 255, 0, FruWriteOutcome::Restored, 1,
       pin + "Restore FRU data 224 bytes\n" + restored},
      // A file says nothing: the read-back finds the byte, twice, and leaves the mix (a mismatch is never undone).
      {FruFileKind::Image, SIZE_MAX, 255, 0, FruWriteOutcome::Unsettled, 2,
       "[ERROR] Verify FRU data: offset 0xff reads 0xfc, 0x5a was written\n"
       "[ERROR] The FRU may now hold a mix of old and new data\n"},
      // Bytes that cannot be synced are not written: put back (its own flush fails too; the read-back decides).
      {FruFileKind::Image, SIZE_MAX, SIZE_MAX, EIO, FruWriteOutcome::Restored, 2,
       unsynced + "Restore FRU data 224 bytes\n" + unsynced + restored},
      {FruFileKind::Eeprom, SIZE_MAX, SIZE_MAX, 0, FruWriteOutcome::Written, 1, ""},
      {FruFileKind::Image, SIZE_MAX, SIZE_MAX, 0, FruWriteOutcome::Written, 1, ""},
  };
  auto touched = std::make_unique<FruTouched>();
  for (const Row& row : rows) {
    const std::string path = Put("0-0050/eeprom", original);
    gChip = FakeChip{row.protectedFrom, row.keptByte, false, row.fsyncErrno};
    const PlatformFruDevice& ops = Open(row.kind, path);
    ASSERT_TRUE(ops.InventorySize(ops.context, 0).known);
    FruDevice device{&ops, false};
    Bytes readBack(256);
    ClearTouched(touched.get());
    const FruWriteOutcome outcome =
        UpdateFruData(device, 0, wanted.data(), wanted.size(), original.data(), readBack.data(), touched.get());
    SCOPED_TRACE(std::to_string(&row - rows));
    EXPECT_EQ(outcome, row.outcome);
    Bytes mix = wanted;
    mix[255] = original[255];
    EXPECT_EQ(Contents(path), row.outcome == FruWriteOutcome::Written     ? wanted
                              : row.outcome == FruWriteOutcome::Unsettled ? mix
                                                                          : original);
    EXPECT_EQ(gChip.fsyncs, row.fsyncs);
    EXPECT_EQ(gChip.calls.back(), "flush");  // after the last chunk, whatever the outcome
    std::string console = row.console;
    for (size_t at; (at = console.find("PATH")) != std::string::npos;) console.replace(at, 4, path);
    EXPECT_EQ(TakeConsole(), console);
  }
}

TEST_F(FileDevices, WritesAreRefusedBeforeAnythingIsSentToWhatHoldsNoFruOrCannotBeWritten) {
  struct Row {
    FruFileKind kind;
    bool readOnly;
    bool holdsFru;
    std::string line;  // empty: go ahead; PATH for the file's path
  } rows[] = {
      {FruFileKind::Image, false, true, ""},
      {FruFileKind::Eeprom, false, true, ""},
      {FruFileKind::Image, false, false, "[ERROR] PATH holds no FRU data"},
      {FruFileKind::Eeprom, false, false, "[ERROR] The EEPROM at PATH holds no FRU data"},
      {FruFileKind::Image, true, true, "[ERROR] PATH cannot be written: Permission denied"},
      {FruFileKind::Eeprom, true, true, "[ERROR] The EEPROM at PATH cannot be written: Permission denied"},
      {FruFileKind::Eeprom, true, false, "[ERROR] The EEPROM at PATH holds no FRU data"},
  };
  const Bytes original = Pattern(256);
  for (const Row& row : rows) {
    const std::string path = Put("fru.bin", original);
    gChip.readOnly = row.readOnly;
    const PlatformFruDevice& device = Open(row.kind, path);
    const char* line = access_.RefuseWrite(access_.refuseContext, row.holdsFru);
    std::string expected = row.line;
    if (size_t at = expected.find("PATH"); at != std::string::npos) expected.replace(at, 4, path);
    EXPECT_EQ(line == nullptr ? "" : std::string(line), expected);
    // A file open for reading only is still listed.
    uint8_t into[16];
    EXPECT_EQ(device.InventorySize(device.context, 0).size, 256);
    EXPECT_EQ(device.Read(device.context, 0, 16, sizeof(into), into).outcome, PlatformFruOutcome::Done);
    EXPECT_EQ(Bytes(into, into + 16), Bytes(original.begin() + 16, original.begin() + 32));
  }
  EXPECT_EQ(TakeConsole(), "");
}

TEST_F(FileDevices, DoneWaitsForTheDisk) {
  struct Row {
    FruFileKind kind;
    int fsyncErrno;
    bool flushed;
    std::string console;
  } rows[] = {
      {FruFileKind::Image, 0, true, ""},
      {FruFileKind::Image, EIO, false, "[ERROR] PATH could not be synced to disk: Input/output error\n"},
      {FruFileKind::Eeprom, EIO, false, "[ERROR] The EEPROM at PATH could not be synced to disk: Input/output error\n"},
      // sysfs has no fsync: at24 has put the bytes on the chip before its write returned.
      {FruFileKind::Eeprom, EINVAL, true, ""},
      {FruFileKind::Image, EINVAL, false, "[ERROR] PATH could not be synced to disk: Invalid argument\n"},
  };
  for (const Row& row : rows) {
    const std::string path = Put("fru.bin", Bytes(256, 0x00));
    gChip.fsyncErrno = row.fsyncErrno;
    const PlatformFruDevice& device = Open(row.kind, path);
    EXPECT_EQ(device.Flush(device.context), row.flushed);
    std::string console = row.console;
    if (size_t at = console.find("PATH"); at != std::string::npos) console.replace(at, 4, path);
    EXPECT_EQ(TakeConsole(), console);
  }
}

// A whole run: the journal entry is on disk (synced, renamed into place, its
// folder synced) before the first chunk, and goes once the FRU holds one whole
// image; the device is flushed before "done."; what fails says so and ends "error.".
TEST_F(FileDevices, ARunRecordsItsEntryBeforeTheFirstChunkAndFlushesBeforeDone) {
  const std::vector<std::string> recorded = {"write staging", "fsync staging", "rename staging entry", "fsync folder"};
  const std::vector<std::string> removed = {"unlink entry", "fsync folder"};
  const auto calls = [](std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const Bytes blank(256, 0xFF);
  const Bytes sample = sim::SampleFruImage();
  const Bytes cleared(256, 0x00);
  Bytes mix = cleared;
  mix[255] = 0xFF;
  const std::string restored = "[ERROR] The write failed; the FRU holds its original data again\nerror.\n";
  const std::string cannot = "[ERROR] The journal entry ENTRY cannot be stored: ";
  struct Row {
    const char* prefix;
    FakeChip chip;
    int status;
    const Bytes* after;  // null: what the edit made of the sample
    std::vector<std::string> calls;
    std::string ending;  // ENTRY for the entry's path
    bool edit = false;   // BSN= on the simulated BMC's sample FRU; else ClearFru=1 on a blank part
  } rows[] = {
      {"file:", {}, 0, &cleared, calls({recorded, {"chunks", "flush"}, removed}), "done.\n"},
      {"eeprom:", {}, 0, &cleared, calls({recorded, {"chunks", "flush"}, removed}), "done.\n"},
      {"file:", {}, 0, nullptr, calls({recorded, {"chunks", "flush"}, removed}), "done.\n", true},
      {"file:", {.failing = "fsync staging", .failErrno = EIO}, 1, &sample,
       {"write staging", "fsync staging", "unlink staging"}, cannot + "Input/output error\nReturn code = 1.\n", true},
      {"file:", {.fsyncErrno = EIO}, 1, &blank, calls({recorded, {"chunks", "flush", "chunks", "flush"}, removed}),
       restored},
      {"eeprom:", {.protectedFrom = 224}, 1, &blank, calls({recorded, {"chunks", "flush"}, removed}), restored},
      // Unsettled: the entry stays for the next run to put the FRU back.
      {"file:", {.keptByte = 255}, 1, &mix, calls({recorded, {"chunks", "flush", "chunks", "flush"}}),
       "[ERROR] The FRU may now hold a mix of old and new data\nerror.\n"},
      // No entry on disk, no chunk sent.
      {"file:", {.failing = "write staging", .failErrno = ENOSPC}, 1, &blank, {"write staging", "unlink staging"},
       cannot + "No space left on device\nReturn code = 1.\n"},
      {"file:", {.failing = "fsync staging", .failErrno = EIO}, 1, &blank,
       {"write staging", "fsync staging", "unlink staging"}, cannot + "Input/output error\nReturn code = 1.\n"},
      {"file:", {.failing = "rename staging entry", .failErrno = EACCES}, 1, &blank,
       {"write staging", "fsync staging", "rename staging entry", "unlink staging"},
       cannot + "Permission denied\nReturn code = 1.\n"},
  };
  for (const Row& row : rows) {
    const std::string index = std::to_string(&row - rows);
    // A file of its own each time: a new FRU, a new lock.
    const std::string path = Put("fru" + index + ".bin", row.edit ? sample : blank);
    gChip = row.chip;
    const int status = RunTool(row.prefix + path, {"ID=0", row.edit ? "BSN=EXB2403150043" : "ClearFru=1"});
    struct stat info{};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    const std::string lock = "sim-file:" + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    const std::string entry = dir_ + "/journal/" + HostJournalKey(lock, 0) + ".entry";
    std::string ending = row.ending;
    if (size_t at = ending.find("ENTRY"); at != std::string::npos) ending.replace(at, 5, entry);
    const std::string console = TakeConsole();
    SCOPED_TRACE("row " + index + "\n" + console);
    EXPECT_EQ(status, row.status);
    EXPECT_EQ(gChip.calls, row.calls);
    EXPECT_EQ(console.substr(console.size() - std::min(console.size(), ending.size())), ending);
    const Bytes after = Contents(path);
    EXPECT_TRUE(row.after != nullptr ? after == *row.after : after != sample);
    // Kept only by a write that did not settle: no "unlink entry" after its last flush.
    EXPECT_EQ(fs::exists(entry), row.calls.back() == "flush");
    fs::remove(entry);
  }
}

// Another program writes the image at each moment of a run, in place, cutting
// it first, or renaming a new file over it: the run never ends "done.", never
// writes over the other program's bytes (it puts back every chunk that still
// holds its own), and the next run leaves them alone too.
TEST_F(FileDevices, AnotherProgramsWriteAtAnyMomentOfTheRunIsNeverMergedOrOverwritten) {
  const Bytes sample = sim::SampleFruImage();
  const std::vector<std::string> edit = {"ID=0", "BSN=EXB2403150043"};
  Bytes edited;  // what the edit makes of the sample, undisturbed: it changes the chunks at 0x60 and 0x80
  {
    const std::string path = Put("edited.bin", sample);
    ASSERT_EQ(RunTool("file:" + path, edit), 0);
    TakeConsole();
    edited = Contents(path);
    ASSERT_EQ(Bytes(edited.begin(), edited.begin() + 0x60), Bytes(sample.begin(), sample.begin() + 0x60));
    ASSERT_EQ(Bytes(edited.begin() + 0xA0, edited.end()), Bytes(sample.begin() + 0xA0, sample.end()));
  }
  const Bytes other(sample.size(), 0x00);  // a cleared FRU: no byte of it is the run's
  const Bytes shorter(200, 0x11);
  // One byte at 0x70 during the sync: that chunk keeps the run's bytes and the other program's; the one after it is put back.
  Bytes oneByte = sample;
  std::copy(edited.begin() + 0x60, edited.begin() + 0x80, oneByte.begin() + 0x60);
  oneByte[0x70] = 0x5A;
  // What follows "Write FRU data 216 bytes"; PATH for the file's path.
  const std::string changed = "[ERROR] PATH was changed by another program during the run\n";
  const std::string notBack = "[ERROR] The write failed and the FRU could not be restored: it may hold part of the new data\nerror.\n";
  const std::string putBack = changed + "Restore FRU data 64 bytes\n";
  const std::string unreadable = "[ERROR] Read Fru 0 startOffset=0x60, length=32\n[ERROR] Read FRU error\n";
  struct Row {
    FakeChip chip;
    const Bytes* after;
    std::string console;
    int status = 1;
  } rows[] = {
      // Before the first chunk, between two chunks, while the chunks are synced.
      {{.meddleAt = "entry", .meddleNth = 1, .meddleImage = other}, &other,
       changed + "Restore FRU data 32 bytes\n" + notBack},
      {{.meddleAt = "pwrite", .meddleNth = 1, .meddleImage = other}, &other, putBack + notBack},
      {{.meddleAt = "pwrite", .meddleNth = 1, .meddleTruncates = true, .meddleImage = shorter}, &shorter, putBack + notBack},
      {{.meddleAt = "fsync", .meddleNth = 1, .meddleImage = other}, &other, putBack + notBack},
      {{.meddleAt = "fsync", .meddleNth = 1, .meddleTruncates = true, .meddleImage = shorter}, &shorter, putBack + notBack},
      {{.meddleAt = "fsync", .meddleNth = 1, .meddleImage = {0x5A}, .meddleOffset = 0x70}, &oneByte, putBack + notBack},
      {{.meddleAt = "fsync", .meddleNth = 1, .meddleImage = other, .meddleRenames = true}, &other,
       putBack + unreadable + notBack},
      // After the synced image was checked, before the read-back.
      {{.meddleAt = "pread", .meddleNth = 2, .meddleImage = other}, &other, putBack + notBack},
      {{.meddleAt = "pread", .meddleNth = 2, .meddleImage = other, .meddleRenames = true}, &other,
       changed + "Verify FRU data: reading back failed; writing again\nRestore FRU data 64 bytes\n" + unreadable + notBack},
      // A read-back the disk fails once is no other program: read again, then done.
      {{.meddleAt = "pread", .meddleNth = 2, .meddleErrno = EIO}, &edited, "[ERROR] PATH cannot be read: Input/output error\ndone.\n",
       0},
  };
  for (const Row& row : rows) {
    const std::string index = std::to_string(&row - rows);
    const std::string path = Put("fru" + index + ".bin", sample);
    gChipPath = path;
    gChip = row.chip;
    const int status = RunTool("file:" + path, edit);
    const std::string console = TakeConsole();
    SCOPED_TRACE("row " + index + "\n" + console);
    EXPECT_GE(gChip.meddleCalls, row.chip.meddleNth);
    EXPECT_EQ(status, row.status);
    std::string expected = "Write FRU data 216 bytes\n" + row.console;
    for (size_t at; (at = expected.find("PATH")) != std::string::npos;) expected.replace(at, 4, path);
    EXPECT_EQ(console.substr(console.find("Write FRU data")), expected);
    EXPECT_EQ(Contents(path), *row.after);
    // Whatever the journal kept, the next run does not put the run's original back over them.
    gChip = FakeChip{};
    RunTool("file:" + path, {"ID=0"});
    TakeConsole();
    EXPECT_EQ(Contents(path), *row.after);
  }
}

// The simulated BMC reads its file when the run chooses it, before the run's
// lock: another run that wrote it in between must not be written over from
// that stale copy. The run starts from what the file holds once it is locked.
TEST_F(FileDevices, ASimulatedBmcStartsFromWhatItsFileHoldsOnceLocked) {
  const Bytes sample = sim::SampleFruImage();
  const auto edit = [&](const Bytes& from, const std::string& field) {
    const std::string path = Put("copy.bin", from);
    EXPECT_EQ(RunTool("sim:" + path, {"ID=0", field}), 0);
    TakeConsole();
    return Contents(path);
  };
  // Both in the board area: a run that wrote from the stale copy would put the old serial back.
  const Bytes theirs = edit(sample, "BSN=EXB2499999999");  // what the other run left
  const Bytes both = edit(theirs, "BPN=EXB-1000-99");
  ASSERT_NE(both, edit(sample, "BPN=EXB-1000-99"));
  const std::string path = Put("fru.bin", sample);
  gChipPath = path;
  gChip = FakeChip{.meddleAt = "lock", .meddleNth = 1, .meddleImage = theirs};
  EXPECT_EQ(RunTool("sim:" + path, {"ID=0", "BPN=EXB-1000-99"}), 0);
  const std::string console = TakeConsole();
  EXPECT_EQ(gChip.meddleCalls, 1);
  EXPECT_EQ(Contents(path), both) << console;
}

}  // namespace

// TAGFORGE_ERASE_NON_FRU confirms only the file that is open, named by any
// path to it, and never a chip the kernel names as a memory module's SPD.
TEST(EraseNonFru, TheSettingMustNameTheOpenFileAndNeverAnSpd) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tagforge-erase-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string chip = (dir / "chip").string();
  const std::string other = (dir / "other").string();
  std::ofstream(chip) << "not a FRU";
  std::ofstream(other) << "not a FRU either";
  const int fd = open(chip.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  const std::string otherDevice = "TAGFORGE_ERASE_NON_FRU names SETTING, not this device";
  struct Case {
    const char* setting;  // null: unset
    std::string path;     // as TAGFORGE_BMC names it
    const char* kernelName;
    bool confirmed;
  };
  const Case cases[] = {
      {nullptr, chip, "", false},
      {"", chip, "", false},
      {"CHIP", chip, "", true},
      {"CHIP", (dir / "." / "chip").string(), "24c02", true},
      {"DIR/.//chip", chip, "", true},
      {"CHIP", chip, "spd", false},
      {"CHIP", chip, "ee1004", false},
      {"CHIP", chip, "spd5118", false},
      {"OTHER", chip, "", false},
      // The path names another file than the one open (replaced since it was opened).
      {"OTHER", other, "", false},
  };
  for (const Case& c : cases) {
    std::string setting = c.setting == nullptr ? "" : c.setting;
    for (const auto& [name, value] : {std::pair<std::string, std::string>{"CHIP", chip}, {"OTHER", other}, {"DIR", dir.string()}}) {
      for (size_t at; (at = setting.find(name)) != std::string::npos;) setting.replace(at, name.size(), value);
    }
    if (c.setting == nullptr) {
      unsetenv("TAGFORGE_ERASE_NON_FRU");
    } else {
      setenv("TAGFORGE_ERASE_NON_FRU", setting.c_str(), 1);
    }
    const EraseNonFruAnswer answer = HostEraseNonFru(c.path, fd, c.kernelName);
    SCOPED_TRACE(setting + " " + c.kernelName);
    EXPECT_EQ(answer.confirmed, c.confirmed);
    std::string expected = c.confirmed || setting.empty() ? "" : otherDevice;
    if (!expected.empty()) expected.replace(expected.find("SETTING"), 7, setting);
    EXPECT_EQ(answer.otherDevice, expected);
  }
  unsetenv("TAGFORGE_ERASE_NON_FRU");
  close(fd);
  std::filesystem::remove_all(dir);
  const uint8_t first[] = {0x00, 0x2d, 0xff};
  EXPECT_EQ(EraseNonFruNotice("/x/chip", first, sizeof(first)),
            "TAGFORGE_ERASE_NON_FRU: overwriting /x/chip, which holds no FRU data; its first 3 bytes: 00 2d ff");
}
