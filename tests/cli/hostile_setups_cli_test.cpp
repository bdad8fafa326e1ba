// What a careless or hostile second user on a shared station can set up
// around a run: files planted where the lock goes, a journal folder others can
// write, entries that are not the run's user's, a FRU file the simulated BMC
// cannot read, and a program that rewrites an image file during the run.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli_harness.h"
#include "fru_bytes.h"
#include "processes.h"

namespace fs = std::filesystem;

namespace {

const std::string kAnother = "[ERROR] Another run is writing FRU 0 of this BMC\nReturn code = 1.\n";

// Packed as an edit leaves it: the board area (bytes 8 to 55) holds the
// serial in the first chunk and its checksum in the second, where the product
// name's first letter (byte 63) sits too; the rest of the name is in the third.
Bytes Board(const std::string& serial, const std::string& product) {
  return Image(512, {0, 0, 1, 7, 0},
               {{1, InfoArea({{0x00, 0x20, 0x57, 0xE2}, Text("Acme"), Text("Board"), Text(serial), Text("PART-000000000"),
                              {0x00}})},
                {7, InfoArea({{0x00}, Text("Ac"), Text(product), Text(""), Text(""), Text("PSN-00"), Text(""), {0}})}});
}

// The journal's and the lock's name for a FRU file (by device and inode) and FRU 0.
std::string Key(const std::string& path) {
  struct stat info{};
  EXPECT_EQ(stat(path.c_str(), &info), 0);
  return "sim-file%3A" + std::to_string(info.st_dev) + "%3A" + std::to_string(info.st_ino) + "%23fru0";
}

std::string LockFolder() { return fs::is_directory("/run/lock") ? "/run/lock/tagforge" : "/tmp/tagforge-locks"; }

uid_t Uid(const std::string& user) {
  const struct passwd* entry = getpwnam(user.c_str());
  return entry == nullptr ? 0 : entry->pw_uid;
}
gid_t Gid(const std::string& user) {
  const struct passwd* entry = getpwnam(user.c_str());
  return entry == nullptr ? 0 : entry->pw_gid;
}

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    // The second user reaches the FRU and a journal of its own.
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
  }
  std::string Fru(int n) const { return dir_.File("fru" + std::to_string(n) + ".bin"); }
  std::string Journal() const { return dir_.File("journal"); }
  CliResult Run(const std::string& fru, std::vector<std::string> args, std::map<std::string, std::string> env = {},
                const std::string& user = "") {
    env.emplace("TAGFORGE_BMC", "sim:" + fru);
    env.emplace("TAGFORGE_JOURNAL", Journal());
    env.emplace("TAGFORGE_SIM_STATS", "1");
    return RunTagforge(CliRun{std::move(args), env, "", dir_.path(), user});
  }
  // A journal folder the second user owns, as its own runs need.
  std::string OwnJournal(const std::string& user) {
    const std::string folder = dir_.File(user + "-journal");
    fs::create_directories(folder);
    EXPECT_EQ(chown(folder.c_str(), Uid(user), Gid(user)), 0);
    fs::permissions(folder, fs::perms::owner_all);
    return folder;
  }
  TempDir dir_;
};

// Two users, any umask, any file planted at the lock: one writer runs and the
// other is refused; never two "done.".
TEST_F(Hostile, TwoUsersNeverBothWriteOneFru) {
  const std::string other = SecondUser();
  if (other.empty()) GTEST_SKIP() << "needs root, a user \"nobody\" and setpriv to run tagforge as a second user";
  enum class Plant { Nothing, ClosedLockFile, Symlink };
  const struct {
    const char* name;
    mode_t umask;
    Plant plant;
    bool otherFirst = false;  // the other user's run holds the lock (its own file), root's comes second
  } rows[] = {
      {"root's umask 077", 077, Plant::Nothing},
      {"the other user's run holds its own lock file", 022, Plant::Nothing, true},
      {"a 0600 lock file the other user made first", 022, Plant::ClosedLockFile},
      {"a symbolic link at the lock path", 022, Plant::Symlink},
  };
  const std::string otherJournal = OwnJournal(other);
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string fru = Fru(++n);
    WriteFileBytes(fru, Board("SN-OLD", "A-Server"));
    fs::permissions(fru, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                             fs::perms::group_write | fs::perms::others_read | fs::perms::others_write);
    const std::string lock = LockFolder() + "/" + Key(fru) + ".lock";
    if (row.plant == Plant::ClosedLockFile) {
      // Keys name the file's inode: an earlier test's file may have left a lock file of root's under this one.
      fs::remove(lock);
      ASSERT_EQ(RunTagforge(CliRun{{"ID=0"}, {{"TAGFORGE_BMC", "sim:" + fru}, {"TAGFORGE_JOURNAL", otherJournal}}, "",
                                   dir_.path(), other}).status, 0);
      ASSERT_EQ(chmod(lock.c_str(), 0600), 0);
      // Its owner could delete it from the sticky folder while a run of root's held it, and lock a new one beside
      // it: root puts a file of its own in its place, which the other user's runs then share.
      CliResult mine = Run(fru, {"ID=0", "BSN=SN-ROOT"});
      EXPECT_TRUE(EndsWith(mine.output, "done.\n")) << mine.output;
      struct stat taken{};
      EXPECT_TRUE(stat(lock.c_str(), &taken) == 0 && taken.st_uid == 0 && (taken.st_mode & 07777) == 0644);
      CliResult theirs = Run(fru, {"ID=0", "BSN=SN-OTHER"}, {{"TAGFORGE_JOURNAL", otherJournal}}, other);
      EXPECT_TRUE(EndsWith(theirs.output, "done.\n")) << theirs.output;
      // A user who is not root cannot put a third user's file aside, and never locks beside it.
      ASSERT_EQ(chown(lock.c_str(), 1, 1), 0);
      theirs = Run(fru, {"ID=0", "BSN=SN-THIRD"}, {{"TAGFORGE_JOURNAL", otherJournal}}, other);
      EXPECT_TRUE(EndsWith(theirs.output, "[ERROR] No lock can be taken for this FRU (" + lock + ": it belongs to " +
                                              std::string(getpwuid(1)->pw_name) + ", who could remove it while this run holds it; " +
                                              "remove it as root when no run holds it)\nReturn code = 1.\n"))
          << theirs.output;
      EXPECT_EQ(ReadFileBytes(fru), Board("SN-OTHER", "A-Server"));
      fs::remove(lock);
      continue;
    }
    if (row.plant == Plant::Symlink) {
      fs::remove(lock);
      fs::create_symlink(dir_.File("elsewhere.lock"), lock);
      ASSERT_EQ(lchown(lock.c_str(), Uid(other), Gid(other)), 0);
      const auto refused = [&](const char* why) {
        return "[ERROR] No lock can be taken for this FRU (" + lock + ": " + why + ")\nReturn code = 1.\n";
      };
      CliResult mine = Run(fru, {"ID=0", "BSN=SN-ROOT"});
      CliResult theirs = Run(fru, {"ID=0", "BSN=SN-OTHER"}, {{"TAGFORGE_JOURNAL", otherJournal}}, other);
      // A kernel that protects symbolic links in sticky folders refuses another user's link before O_NOFOLLOW is looked at.
      EXPECT_TRUE(EndsWith(mine.output, refused("Permission denied")) ||
                  EndsWith(mine.output, refused("Too many levels of symbolic links")))
          << mine.output;
      EXPECT_TRUE(EndsWith(theirs.output, refused("Too many levels of symbolic links"))) << theirs.output;
      EXPECT_EQ(ReadFileBytes(fru), Board("SN-OLD", "A-Server"));
      fs::remove(lock);
      continue;
    }
    // The first run stops itself in the middle of its write, its lock held, in a lock file it makes.
    fs::remove(lock);
    const mode_t saved = umask(row.umask);
    const std::string firstSerial = row.otherFirst ? "SN-OTHER" : "SN-ROOT";
    const std::string secondSerial = row.otherFirst ? "SN-ROOT" : "SN-OTHER";
    const std::map<std::string, std::string> theirs = {{"TAGFORGE_JOURNAL", otherJournal}};
    std::map<std::string, std::string> firstEnv = row.otherFirst ? theirs : std::map<std::string, std::string>{};
    firstEnv.emplace("TAGFORGE_SIM_FAULTS", "signal=STOP@1");
    CliResult first;
    std::thread live([&] { first = Run(fru, {"ID=0", "BSN=" + firstSerial}, firstEnv, row.otherFirst ? other : ""); });
    const pid_t pid = WaitForProcess([](const ProcessState& p) { return p.parent == getpid() && p.state == "T"; });
    umask(saved);
    ASSERT_GT(pid, 0);
    CliResult second = row.otherFirst ? Run(fru, {"ID=0", "BSN=" + secondSerial})
                                      : Run(fru, {"ID=0", "BSN=" + secondSerial}, theirs, other);
    kill(pid, SIGCONT);
    live.join();
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(EndsWith(second.output, kAnother)) << second.output << second.errors;
    EXPECT_EQ(first.status, 0) << first.output;
    const Bytes after = ReadFileBytes(fru);
    const std::string text(after.begin(), after.end());
    EXPECT_NE(text.find(firstSerial), std::string::npos);
    EXPECT_EQ(text.find(secondSerial), std::string::npos);
    struct stat info{};
    ASSERT_EQ(stat(lock.c_str(), &info), 0);
    // Root never takes over a file that a run holds.
    EXPECT_EQ(info.st_uid, row.otherFirst ? Uid(other) : 0u);
    // 0644 whatever the umask (a run of the owner puts a narrowed one right).
    EXPECT_EQ(info.st_mode & 07777, 0644u);
  }
}

// A torn FRU and the entry of the killed run, in a journal folder the run must
// not trust, or with an entry it must not trust: never written back.
TEST_F(Hostile, AJournalOthersCanWriteNeverReachesTheFru) {
  const std::string other = SecondUser();
  WriteFileBytes(Fru(0), Board("SN-OLD", "A-Server"));
  ASSERT_EQ(Run(Fru(0), {"ID=0", "BSN=SN-NEW"}, {{"TAGFORGE_SIM_FAULTS", "signal=KILL@1"}}).status, 128 + SIGKILL);
  const Bytes torn = ReadFileBytes(Fru(0));
  ASSERT_NE(torn, Board("SN-OLD", "A-Server"));
  const std::string entryName = Key(Fru(0)) + ".entry";
  const Bytes entry = ReadFileBytes(Journal() + "/" + entryName);
  struct Row {
    const char* name;
    std::string folder;     // TAGFORGE_JOURNAL
    const char* user;       // the folder's or the entry's owner ("" for root)
    fs::perms mode;
    bool entryOnly;         // the folder is root's; only the entry is the other user's
    std::string problem;    // without "[ERROR] ", FOLDER for the folder, ENTRY for the entry
  };
  std::vector<Row> rows = {
      {"a folder everyone can write", dir_.File("open"), "", fs::perms::all, false,
       "The journal folder FOLDER can be written by its group or others (chmod go-w)"},
      {"a folder its group can write", dir_.File("group"), "", fs::perms::owner_all | fs::perms::group_all, false,
       "The journal folder FOLDER can be written by its group or others (chmod go-w)"},
  };
  if (!other.empty()) {
    rows.push_back({"another user's folder", dir_.File("theirs"), "nobody", fs::perms::owner_all, false,
                    "The journal folder FOLDER belongs to nobody, not to root who runs tagforge"});
    rows.push_back({"another user's entry in the run's folder", dir_.File("mine"), "nobody", fs::perms::owner_all, true,
                    "The journal entry ENTRY belongs to nobody, not to root who runs tagforge: nothing was written"});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fs::create_directories(row.folder);
    const std::string path = row.folder + "/" + entryName;
    WriteFileBytes(path, entry);
    const uid_t owner = *row.user == '\0' ? 0 : Uid(row.user);
    const gid_t group = *row.user == '\0' ? 0 : Gid(row.user);
    ASSERT_EQ(chown(path.c_str(), owner, group), 0);
    if (!row.entryOnly) {
      ASSERT_EQ(chown(row.folder.c_str(), owner, group), 0);
    }
    fs::permissions(row.folder, row.mode);
    std::string problem = row.problem;
    if (size_t at = problem.find("FOLDER"); at != std::string::npos) problem.replace(at, 6, row.folder);
    if (size_t at = problem.find("ENTRY"); at != std::string::npos) problem.replace(at, 5, path);
    for (const bool edit : {true, false}) {
      WriteFileBytes(Fru(0), torn);
      CliResult r = Run(Fru(0), edit ? std::vector<std::string>{"ID=0", "BSN=SN-AGAIN"} : std::vector<std::string>{"ID=0"},
                        {{"TAGFORGE_JOURNAL", row.folder}});
      SCOPED_TRACE(r.output + r.errors);
      EXPECT_EQ(ReadFileBytes(Fru(0)), torn);
      EXPECT_TRUE(fs::exists(path));
      if (edit || row.entryOnly) {
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(EndsWith(r.output, "[ERROR] " + problem + "\nReturn code = 1.\n"));
        continue;
      }
      // A listing goes on without the journal, and says so once; the lint shows the torn FRU.
      EXPECT_EQ(r.errors.substr(0, r.errors.find("sim: ")),
                "tagforge: " + problem + "; this run goes on without the journal\n");
      EXPECT_EQ(r.output.find("Restored"), std::string::npos);
    }
  }
  // Relative: a run from another folder would not find the entry.
  CliResult relative = Run(Fru(0), {"ID=0", "BSN=SN-AGAIN"}, {{"TAGFORGE_JOURNAL", "journal"}});
  EXPECT_TRUE(EndsWith(relative.output, "[ERROR] TAGFORGE_JOURNAL=journal is not an absolute path\nReturn code = 1.\n"))
      << relative.output;
  EXPECT_EQ(ReadFileBytes(Fru(0)), torn);
  if (other.empty()) GTEST_SKIP() << "the other user's rows need root, a user \"nobody\" and setpriv";
}

// A staging file a kill left behind goes with the next run on that FRU; a
// journal in memory is said once per writing run.
TEST_F(Hostile, LeftoversGoAndAJournalInMemoryIsSaid) {
  WriteFileBytes(Fru(0), Board("SN-OLD", "A-Server"));
  fs::create_directories(Journal());
  const std::string staging = Journal() + "/" + Key(Fru(0)) + ".entry.new";
  std::ofstream(staging) << "tagforge journal 1\nbmc half";
  EXPECT_EQ(Run(Fru(0), {"ID=0"}).status, 0);
  EXPECT_FALSE(fs::exists(staging));
  if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no tmpfs at /dev/shm";
  char pattern[] = "/dev/shm/tagforge-journal-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string memory = pattern;
  CliResult edit = Run(Fru(0), {"ID=0", "BSN=SN-NEW"}, {{"TAGFORGE_JOURNAL", memory}});
  CliResult listing = Run(Fru(0), {"ID=0"}, {{"TAGFORGE_JOURNAL", memory}});
  fs::remove_all(memory);
  EXPECT_TRUE(EndsWith(edit.output, "done.\n"));
  EXPECT_EQ(edit.errors.substr(0, edit.errors.find("sim: ")),
            "tagforge: the journal folder " + memory +
                " is in memory (tmpfs): a power cut mid-write loses its entry; set TAGFORGE_JOURNAL to a folder on a disk\n");
  EXPECT_EQ(listing.errors.substr(0, listing.errors.find("sim: ")), "");
}

// Under umask 000 the folders a run makes for its journal, those on the way
// included, are still the owner's alone: none another user could rename away.
TEST_F(Hostile, EveryFolderTheJournalMakesIsTheOwnersAlone) {
  const std::string top = dir_.File("state");
  WriteFileBytes(Fru(7), Board("SN-OLD", "A-Server"));
  const mode_t saved = umask(0);
  CliResult r = RunTagforge(
      CliRun{{"ID=0", "BSN=SN-NEW"}, {{"TAGFORGE_BMC", "sim:" + Fru(7)}, {"TAGFORGE_JOURNAL", top + "/a/tagforge"}}, "", dir_.path()});
  umask(saved);
  EXPECT_EQ(r.status, 0) << r.output << r.errors;
  for (const std::string& folder : {top, top + "/a", top + "/a/tagforge"}) {
    struct stat info{};
    ASSERT_EQ(stat(folder.c_str(), &info), 0) << folder;
    EXPECT_EQ(info.st_mode & 0777, 0700u) << folder;
  }
}

// A FIFO where the simulated BMC's file should be is refused at once, never
// waited on; a link to nothing is refused too, never followed to make a sample.
TEST_F(Hostile, ASimulatedBmcsFileThatIsAFifoOrALinkToNothingIsRefusedAtOnce) {
  const std::string fifo = dir_.File("fifo.bin");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string link = dir_.File("link.bin");
  ASSERT_EQ(symlink(dir_.File("nothing.bin").c_str(), link.c_str()), 0);
  const std::pair<std::string, std::string> cases[] = {{fifo, "it is not a regular file"},
                                                       {link, "it is a symbolic link to nothing"}};
  for (const auto& [path, why] : cases) {
    CliResult r = RunTagforge(CliRun{{"ID=0"}, {{"TAGFORGE_BMC", "sim:" + path}, {"TAGFORGE_JOURNAL", dir_.File("j")}}, "", dir_.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.errors.find("cannot use the simulated BMC's FRU file " + path + ": " + why), std::string::npos) << r.errors;
  }
  EXPECT_FALSE(fs::exists(dir_.File("nothing.bin")));
}

// The simulated BMC makes its sample only where there is no file: one it
// cannot read is someone's FRU, left alone.
TEST_F(Hostile, ASimulatedBmcsFileThatCannotBeReadIsNeverReplaced) {
  const std::string other = SecondUser();
  if (other.empty()) GTEST_SKIP() << "needs root, a user \"nobody\" and setpriv to meet a file it cannot read";
  const Bytes board = Board("SN-KEEP", "A-Server");
  WriteFileBytes(Fru(0), board);
  fs::permissions(Fru(0), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write);
  fs::permissions(dir_.path(), fs::perms::all);
  CliResult r = RunTagforge(CliRun{{"ID=0"}, {{"TAGFORGE_BMC", "sim:" + Fru(0)}, {"TAGFORGE_JOURNAL", OwnJournal(other)}}, "",
                                   dir_.path(), other});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, "tagforge: simulated BMC: cannot open the simulated BMC's FRU file " + Fru(0) +
                          ": Permission denied\n");
  EXPECT_EQ(ReadFileBytes(Fru(0)), board);
}

// Another program rewrites the image while runs edit it, in place or
// truncating first, and ignores the lock: no run ends "done." over a file that
// mixes the run's bytes with the other program's.
TEST_F(Hostile, AnImageAnotherProgramRewritesIsNeverMerged) {
  constexpr int kRuns = 150;
  const Bytes images[] = {Board("SN-OLD", "A-Server"), Board("SN-OLD", "B-Server")};
  // What the edit makes of each, undisturbed.
  Bytes edited[2];
  for (int i = 0; i < 2; ++i) {
    WriteFileBytes(Fru(9), images[i]);
    ASSERT_EQ(RunTagforge(CliRun{{"ID=0", "BSN=SN-NEW"}, {{"TAGFORGE_BMC", "file:" + Fru(9)}}, "", dir_.path()}).status, 0);
    edited[i] = ReadFileBytes(Fru(9));
  }
  for (const bool truncating : {false, true}) {
    int done = 0;
    int changed = 0;
    for (int run = 0; run < kRuns; ++run) {
      WriteFileBytes(Fru(0), images[0]);
      int stop[2];
      ASSERT_EQ(pipe(stop), 0);
      const pid_t writer = fork();
      if (writer == 0) {
        close(stop[1]);
        fcntl(stop[0], F_SETFL, O_NONBLOCK);
        const int fd = open(Fru(0).c_str(), O_WRONLY);
        char byte;
        for (int i = 1; read(stop[0], &byte, 1) < 0; ++i) {
          const Bytes& image = images[i % 2];
          if (truncating && ftruncate(fd, 0) != 0) _exit(2);
          if (pwrite(fd, image.data(), image.size(), 0) != static_cast<ssize_t>(image.size())) _exit(2);
          usleep(200);
        }
        _exit(0);
      }
      close(stop[0]);
      CliResult r = RunTagforge(CliRun{{"ID=0", "BSN=SN-NEW"},
                                       {{"TAGFORGE_BMC", "file:" + Fru(0)},
                                        {"TAGFORGE_JOURNAL", Journal()}},
                                       "",
                                       dir_.path()});
      close(stop[1]);
      int status = 0;
      waitpid(writer, &status, 0);
      ASSERT_EQ(WEXITSTATUS(status), 0);
      SCOPED_TRACE(r.output);
      if (!EndsWith(r.output, "done.\n")) {
        // Most are caught by the compare; a change between the last flush and the read-back, by the read-back.
        changed += r.output.find("[ERROR] " + Fru(0) + " was changed by another program during the run\n") !=
                   std::string::npos;
        EXPECT_TRUE(EndsWith(r.output, "error.\n") || EndsWith(r.output, "Return code = 1.\n"));
        continue;
      }
      ++done;
      // The file holds one whole image, the edit of one whole image, or the other program's.
      const Bytes now = ReadFileBytes(Fru(0));
      EXPECT_TRUE(now == images[0] || now == images[1] || now == edited[0] || now == edited[1]);
      fs::remove_all(Journal());
    }
    printf("%s: %d of %d runs done., %d said the file was changed\n", truncating ? "truncating" : "in place", done, kRuns,
           changed);
  }
}

}  // namespace
