// The lock folder against what others can plant in it, and the run's record
// against a report path that is not a plain file or a disk that fills up.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "platform/host/host_fru_lock.h"
#include "platform/host/host_report.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

class LockAndReport : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tagforge-lock-report-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    HostUseLockFolder(nullptr);
    HostUseReportWrite(nullptr);
    unsetenv("TAGFORGE_REPORT");
    fs::remove_all(dir_);
  }
  std::string dir_;
};

mode_t ModeOf(const std::string& path) {
  struct stat info{};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

TEST_F(LockAndReport, ALockFolderOthersCouldChangeIsRefusedWithItsOwner) {
  struct Row {
    const char* name;
    void (*setUp)(const std::string& folder);
    std::string problem;  // FOLDER, LOCK: the paths; "" when the lock is taken
    bool busy = false;    // another run holds it
  } rows[] = {
      {"missing: made sticky whatever the umask", [](const std::string&) {}, ""},
      {"root's and sticky", [](const std::string& f) { fs::create_directory(f), chmod(f.c_str(), 01777); }, ""},
      {"root's, written by no one else", [](const std::string& f) { fs::create_directory(f), chmod(f.c_str(), 0755); }, ""},
      {"anyone can write, not sticky", [](const std::string& f) { fs::create_directory(f), chmod(f.c_str(), 0777); },
       "[ERROR] The lock folder FOLDER (owner root) cannot be trusted: others can write to it and it is not sticky"},
      {"its group can write, not sticky", [](const std::string& f) { fs::create_directory(f), chmod(f.c_str(), 0775); },
       "[ERROR] The lock folder FOLDER (owner root) cannot be trusted: others can write to it and it is not sticky"},
      {"another user's, sticky",
       [](const std::string& f) { fs::create_directory(f), chmod(f.c_str(), 01777), (void)chown(f.c_str(), 65534, 65534); },
       "[ERROR] The lock folder FOLDER (owner nobody) cannot be trusted: it belongs to neither root nor this user"},
      {"a symbolic link to a good folder",
       [](const std::string& f) { fs::create_directory(f + ".real"), fs::create_directory_symlink(f + ".real", f); },
       "[ERROR] The lock folder FOLDER (owner root) cannot be trusted: it is a symbolic link"},
      {"a file", [](const std::string& f) { std::ofstream(f) << "x"; },
       "[ERROR] The lock folder FOLDER (owner root) cannot be trusted: it is not a folder"},
      {"a symbolic link at the lock file",
       [](const std::string& f) { fs::create_directory(f), chmod(f.c_str(), 01777), fs::create_symlink(f + "/../x", f + "/key.lock"); },
       "[ERROR] No lock can be taken for this FRU (LOCK: Too many levels of symbolic links)"},
      {"a FIFO at the lock file",
       [](const std::string& f) { fs::create_directory(f), chmod(f.c_str(), 01777), mkfifo((f + "/key.lock").c_str(), 0644); },
       "[ERROR] No lock can be taken for this FRU (LOCK: not a file)"},
      // Another user's lock file that no run holds (its listing made it): root puts one of its own in its place.
      {"another user's 0600 lock file",
       [](const std::string& f) {
         fs::create_directory(f), chmod(f.c_str(), 01777), std::ofstream(f + "/key.lock").put('\0');
         (void)chown((f + "/key.lock").c_str(), 65534, 65534), chmod((f + "/key.lock").c_str(), 0600);
       },
       ""},
      // ... and one that a run holds is left to it.
      {"another user's lock file a run holds",
       [](const std::string& f) {
         fs::create_directory(f), chmod(f.c_str(), 01777), std::ofstream(f + "/key.lock").put('\0');
         (void)chown((f + "/key.lock").c_str(), 65534, 65534);
         flock(open((f + "/key.lock").c_str(), O_RDONLY | O_CLOEXEC), LOCK_EX);  // held until the test ends
       },
       "", true},
  };
  if (geteuid() != 0) GTEST_SKIP() << "the rows name root as the owner";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string folder = dir_ + "/locks" + std::to_string(&row - rows);
    row.setUp(folder);
    HostUseLockFolder(folder.c_str());
    const mode_t saved = umask(077);
    std::string problem;
    bool busy = false;
    const int fd = HostLockFruFile("key", &busy, &problem);
    umask(saved);
    std::string expected = row.problem;
    if (size_t at = expected.find("FOLDER"); at != std::string::npos) expected.replace(at, 6, folder);
    if (size_t at = expected.find("LOCK"); at != std::string::npos) expected.replace(at, 4, folder + "/key.lock");
    EXPECT_EQ(problem, expected);
    EXPECT_EQ(busy, row.busy);
    EXPECT_EQ(fd >= 0, expected.empty() && !row.busy);
    struct stat lock{};
    if (row.busy) {
      EXPECT_TRUE(stat((folder + "/key.lock").c_str(), &lock) == 0 && lock.st_uid == 65534);
    }
    if (fd < 0) continue;
    // Held: the file the path names, root's, that everyone can open.
    const int probe = open((folder + "/key.lock").c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(flock(probe, LOCK_EX | LOCK_NB), -1);
    close(probe);
    close(fd);
    EXPECT_EQ(ModeOf(folder), row.setUp == rows[0].setUp ? 01777u : ModeOf(folder));
    EXPECT_EQ(ModeOf(folder + "/key.lock"), 0644u);
    EXPECT_TRUE(stat((folder + "/key.lock").c_str(), &lock) == 0 && lock.st_uid == 0);
  }
}

// A record is one whole line or nothing: through no link, into no FIFO or
// folder, and a write the disk cut short is taken back.
TEST_F(LockAndReport, ARecordIsAWholeLineInAPlainFileOrNothing) {
  static int gCalls = 0;
  const PlatformRunSummary summary{0, "listing", nullptr, 0, nullptr, 0, "read", nullptr, 0, 512, 0, nullptr, 0,
                                   nullptr, 0, nullptr, 0, nullptr, 0};
  const std::string earlier = "{\"earlier\":1}\n";
  const std::string secret = dir_ + "/root-only";
  std::ofstream(secret) << "secret\n";
  struct Row {
    const char* name;
    std::string path;
    void (*setUp)(const std::string& path, const std::string& secret);
    ssize_t (*write)(int fd, const void* bytes, size_t count);
    std::string said;  // after "tagforge: the run report could not be written to PATH: "
  } rows[] = {
      {"a symbolic link", dir_ + "/link.jsonl",
       [](const std::string& p, const std::string& s) { fs::create_symlink(s, p); }, nullptr, "it is a symbolic link"},
      {"a folder", dir_ + "/folder.jsonl", [](const std::string& p, const std::string&) { fs::create_directory(p); },
       nullptr, "Is a directory"},
      {"a FIFO nobody reads", dir_ + "/fifo.jsonl",
       [](const std::string& p, const std::string&) { mkfifo(p.c_str(), 0644); }, nullptr, "No such device or address"},
      {"a full disk that takes half the line", dir_ + "/full.jsonl",
       [](const std::string& p, const std::string&) { std::ofstream(p) << "{\"earlier\":1}\n"; },
       [](int fd, const void* bytes, size_t count) {
         ++gCalls;
         return ::write(fd, bytes, count / 2);
       },
       "a short write"},
      {"a full disk that takes nothing", dir_ + "/none.jsonl",
       [](const std::string& p, const std::string&) { std::ofstream(p) << "{\"earlier\":1}\n"; },
       [](int, const void*, size_t) -> ssize_t {
         ++gCalls;
         errno = ENOSPC;
         return -1;
       },
       "No space left on device"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    row.setUp(row.path, secret);
    HostUseReportWrite(row.write);
    setenv("TAGFORGE_REPORT", row.path.c_str(), 1);
    gCalls = 0;
    testing::internal::CaptureStderr();
    PlatformReportRun(summary);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tagforge: the run report could not be written to " + row.path + ": " + row.said + "\n");
    EXPECT_EQ(gCalls, row.write != nullptr ? 1 : 0);  // one write a record
    std::ifstream kept(secret);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "secret\n");
    if (row.write == nullptr) continue;
    std::ifstream file(row.path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), earlier);
    // Once the disk has room again, the next record is a whole line after the earlier one.
    HostUseReportWrite(nullptr);
    PlatformReportRun(summary);
    std::ifstream again(row.path);
    std::string line;
    ASSERT_TRUE(std::getline(again, line));
    EXPECT_EQ(line + "\n", earlier);
    ASSERT_TRUE(std::getline(again, line));
    EXPECT_EQ(nlohmann::json::parse(line)["mode"], "listing");
    EXPECT_FALSE(std::getline(again, line));
  }
}

}  // namespace
