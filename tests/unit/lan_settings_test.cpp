// The LAN settings as ReadLanSettings takes them from the environment: the
// password file's checks, the length limits, the cipher suites refused; the
// address forms of TAGFORGE_BMC=lan; and how long a silent BMC is waited for.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <freeipmi/freeipmi.h>

#include "platform/host/host_bmc_choice.h"
#include "platform/host/host_lan_ipmi.h"

namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace {

constexpr const char* LAN_VARIABLES[] = {"TAGFORGE_LAN_USER",    "TAGFORGE_LAN_PASSWORD",  "TAGFORGE_LAN_PASSWORD_FILE",
                                         "TAGFORGE_LAN_CIPHER",  "TAGFORGE_LAN_CLEARTEXT", "TAGFORGE_LAN_PRIVILEGE",
                                         "TAGFORGE_LAN_WORKAROUNDS"};

class LanSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : LAN_VARIABLES) unsetenv(name);
    char pattern[] = "/tmp/tagforge-lan-XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  void TearDown() override {
    for (const char* name : LAN_VARIABLES) unsetenv(name);
    fs::remove_all(dir_);
  }
  // ReadLanSettings with these variables set; the error line, or "" and the password.
  std::string Read(const std::vector<std::pair<const char*, std::string>>& variables, std::string* password) {
    for (const char* name : LAN_VARIABLES) unsetenv(name);
    for (const auto& [name, value] : variables) setenv(name, value.c_str(), 1);
    LanSettings settings;
    std::string error;
    const bool ok = ReadLanSettings("bmc", &settings, &error);
    EXPECT_EQ(ok, error.empty()) << error;
    *password = std::string(settings.password.Text(), settings.password.Length());
    return error;
  }
  std::string dir_;
};

enum class Made { File, Directory, Symlink, Fifo, Nothing };

TEST_F(LanSettingsTest, ThePasswordFileIsAPrivateRegularFileWithOneShortLine) {
  struct Case {
    const char* name;
    Made made;
    std::string content;
    mode_t mode;
    std::string password;  // when accepted
    std::string error;     // after "[ERROR] TAGFORGE_LAN_PASSWORD_FILE PATH "
  };
  const std::string twenty = "abcdefghij0123456789";
  const Case cases[] = {
      {"a good file", Made::File, "secret\n", 0600, "secret", ""},
      {"owner read only", Made::File, "secret\n", 0400, "secret", ""},
      {"20 bytes", Made::File, twenty + "\n", 0600, twenty, ""},
      {"20 bytes, CR LF", Made::File, twenty + "\r\n", 0600, twenty, ""},
      {"CR LF", Made::File, "secret\r\nsecond line\n", 0600, "secret", ""},
      {"no final newline", Made::File, "secret", 0600, "secret", ""},
      {"21 bytes", Made::File, twenty + "x\n", 0600, "",
       "holds a password longer than 20 bytes, the most an IPMI 2.0 session takes"},
      {"21 bytes, no newline", Made::File, twenty + "x", 0600, "",
       "holds a password longer than 20 bytes, the most an IPMI 2.0 session takes"},
      {"empty", Made::File, "", 0600, "", "holds no password on its first line"},
      {"empty first line", Made::File, "\r\nsecret\n", 0600, "", "holds no password on its first line"},
      {"group may read", Made::File, "secret\n", 0640, "",
       "can be read by other users; make it readable by its owner only (chmod 600)"},
      {"others may read", Made::File, "secret\n", 0604, "",
       "can be read by other users; make it readable by its owner only (chmod 600)"},
      {"group may write", Made::File, "secret\n", 0660, "",
       "can be read by other users; make it readable by its owner only (chmod 600)"},
      {"a directory", Made::Directory, "", 0700, "", "is a directory, not a file"},
      {"a symbolic link to a good file", Made::Symlink, "secret\n", 0600, "",
       "is a symbolic link; name the file itself"},
      {"a FIFO", Made::Fifo, "", 0600, "", "is a FIFO, not a file"},
      {"nothing there", Made::Nothing, "", 0600, "", "cannot be read: No such file or directory"},
  };
  for (const Case& c : cases) {
    const std::string path = dir_ + "/" + c.name;
    const std::string target = dir_ + "/target of " + c.name;
    switch (c.made) {
      case Made::File: std::ofstream(path) << c.content; break;
      case Made::Directory: fs::create_directory(path); break;
      case Made::Symlink:
        std::ofstream(target) << c.content;
        chmod(target.c_str(), c.mode);
        fs::create_symlink(target, path);
        break;
      case Made::Fifo: mkfifo(path.c_str(), c.mode); break;
      case Made::Nothing: break;
    }
    if (c.made == Made::File || c.made == Made::Directory) chmod(path.c_str(), c.mode);
    std::string password;
    const std::string error = Read({{"TAGFORGE_LAN_PASSWORD_FILE", path}}, &password);
    EXPECT_EQ(error, c.error.empty() ? "" : "[ERROR] TAGFORGE_LAN_PASSWORD_FILE " + path + " " + c.error) << c.name;
    EXPECT_EQ(password, c.password) << c.name;
  }
}

TEST_F(LanSettingsTest, CipherSuitesThatLeaveTheSessionOpenAreRefusedAndLengthsLimited) {
  struct Case {
    std::vector<std::pair<const char*, std::string>> variables;
    std::string error;  // empty: accepted
  };
  const std::string cleartext = "; set TAGFORGE_LAN_CLEARTEXT=1 to allow it";
  const Case cases[] = {
      {{{"TAGFORGE_LAN_CIPHER", "3"}}, ""},
      {{{"TAGFORGE_LAN_CIPHER", "0"}, {"TAGFORGE_LAN_CLEARTEXT", "1"}},
       "[ERROR] TAGFORGE_LAN_CIPHER 0 has no authentication: the BMC would take any password; use 3, 8 or 12"},
      {{{"TAGFORGE_LAN_CIPHER", "1"}},
       "[ERROR] TAGFORGE_LAN_CIPHER 1 has no integrity and no confidentiality (the FRU data crosses the network "
       "readable and alterable)" + cleartext},
      {{{"TAGFORGE_LAN_CIPHER", "2"}},
       "[ERROR] TAGFORGE_LAN_CIPHER 2 has no confidentiality (the FRU data crosses the network readable)" + cleartext},
      {{{"TAGFORGE_LAN_CIPHER", "7"}},
       "[ERROR] TAGFORGE_LAN_CIPHER 7 has no confidentiality (the FRU data crosses the network readable)" + cleartext},
      {{{"TAGFORGE_LAN_CIPHER", "1"}, {"TAGFORGE_LAN_CLEARTEXT", "1"}}, ""},
      {{{"TAGFORGE_LAN_CIPHER", "2"}, {"TAGFORGE_LAN_CLEARTEXT", "1"}}, ""},
      {{{"TAGFORGE_LAN_CIPHER", "2"}, {"TAGFORGE_LAN_CLEARTEXT", "yes"}},
       "[ERROR] TAGFORGE_LAN_CLEARTEXT must be 0 or 1, not \"yes\""},
      {{{"TAGFORGE_LAN_CIPHER", "17"}},
       "[ERROR] TAGFORGE_LAN_CIPHER 17 is not a cipher suite this tagforge can run (3, 8, 12; 1, 2, 6, 7, 11 with "
       "TAGFORGE_LAN_CLEARTEXT=1)"},
      {{{"TAGFORGE_LAN_USER", "sixteen-bytes-ok"}}, ""},
      {{{"TAGFORGE_LAN_WORKAROUNDS", "opensesspriv,authcap"}}, ""},
      {{{"TAGFORGE_LAN_WORKAROUNDS", "opensesspriv,bogus"}},
       "[ERROR] TAGFORGE_LAN_WORKAROUNDS: unknown workaround \"bogus\" (authcap, intel20, supermicro20, sun20, "
       "opensesspriv, integritycheckvalue, nochecksumcheck)"},
      {{{"TAGFORGE_LAN_USER", "seventeen-bytes-x"}},
       "[ERROR] TAGFORGE_LAN_USER is longer than 16 bytes, the most an IPMI 2.0 session takes"},
      {{{"TAGFORGE_LAN_PASSWORD", "twenty-one-bytes-long"}},
       "[ERROR] TAGFORGE_LAN_PASSWORD is longer than 20 bytes, the most an IPMI 2.0 session takes"},
  };
  for (const Case& c : cases) {
    std::string password;
    EXPECT_EQ(Read(c.variables, &password), c.error) << c.variables[0].second;
  }
}

TEST_F(LanSettingsTest, TheEnvironmentsPasswordIsZeroedAndDumpsAreOffWhileOneIsHeld) {
  setenv("TAGFORGE_LAN_PASSWORD", "secret", 1);
  char* value = getenv("TAGFORGE_LAN_PASSWORD");
  {
    LanSettings settings;
    std::string error;
    ASSERT_TRUE(ReadLanSettings("bmc", &settings, &error)) << error;
    EXPECT_STREQ(settings.password.Text(), "secret");
    EXPECT_EQ(std::string(value, 6), std::string(6, '\0'));
    EXPECT_EQ(getenv("TAGFORGE_LAN_PASSWORD"), nullptr);
    EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
    LanSettings moved = std::move(settings);  // one live copy: the old one is zeroed
    EXPECT_EQ(settings.password.Length(), 0u);
    EXPECT_EQ(std::string(settings.password.Text(), 6), std::string(6, '\0'));
  }
  EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 1);
}

TEST(LanAddress, OneBmcNamedTwoWaysGivesOneName) {
  struct Case {
    const char* setting;
    std::string text;  // the device's name, or the error line
  };
  const Case cases[] = {
      {"lan:10.0.5.17", "lan:10.0.5.17"},
      {"lan:10.0.5.17:623", "lan:10.0.5.17"},
      {"lan:10.0.5.17:0624", "lan:10.0.5.17:624"},
      {"lan:[::1]", "lan:[::1]"},
      {"lan:[::1]:623", "lan:[::1]"},
      {"lan:[0:0:0:0:0:0:0:1]:1623", "lan:[::1]:1623"},
      {"lan:[FE80::A:1]", "lan:[fe80::a:1]"},
      {"lan:::1", "[ERROR] TAGFORGE_BMC=lan:::1: an IPv6 address goes in brackets: lan:[ADDRESS] or lan:[ADDRESS]:PORT"},
      {"lan:[::1", "[ERROR] TAGFORGE_BMC=lan:[ADDRESS] needs an IPv6 address in brackets, then :PORT or nothing, "
                   "not \"[::1\""},
      {"lan:[::1]623", "[ERROR] TAGFORGE_BMC=lan:[ADDRESS] needs an IPv6 address in brackets, then :PORT or nothing, "
                       "not \"[::1]623\""},
      {"lan:[10.0.5.17]", "[ERROR] TAGFORGE_BMC=lan:[ADDRESS] needs an IPv6 address, not \"10.0.5.17\""},
      {"lan:[::1]:0", "[ERROR] TAGFORGE_BMC=lan:HOST:PORT needs a port from 1 to 65535, not \"0\""},
      {"lan::623", "[ERROR] TAGFORGE_BMC=lan:HOST needs the BMC's address"},
      // The line that lists every form, the LAN ones included in a build with LAN.
      {"LAN:10.0.5.17", "[ERROR] TAGFORGE_BMC must be sim, sim:PATH, ports, kernel, kernel:N, lan:HOST, "
                        "lan:HOST:PORT, file:PATH or eeprom:PATH, not \"LAN:10.0.5.17\""},
  };
  for (const char* name : LAN_VARIABLES) unsetenv(name);
  for (const Case& c : cases) {
    HostOpened opened;
    std::string error;
    const bool ok = HostOpenDevice(c.setting, HostRoots{}, &opened, &error);
    EXPECT_EQ(ok ? opened.name : error, c.text) << c.setting;
    if (!ok) continue;
    EXPECT_EQ(opened.device->Access().kind, PlatformFruAccessKind::Transport) << c.setting;
    EXPECT_TRUE(opened.device->Remote()) << c.setting;
  }
}

// A clock the test moves.
std::chrono::steady_clock::time_point gNow{};
std::chrono::steady_clock::time_point FakeNow() { return gNow; }

TEST(LanWait, NoRequestStartsThatCouldEndMoreThan25SecondsAfterTheLastAnswer) {
  enum class Step { Answered, Unanswered, Restart };
  struct Case {
    int atMs;
    Step step;  // after the request begun at atMs
    unsigned timeoutMs;  // of the request begun at atMs
  };
  // libfreeipmi may give up to about 2 s after its session timeout; a request
  // squeezed into the end of the limit gets a shorter one, 1 s at the least.
  const Case cases[] = {
      {0, Step::Answered, 5000},
      {60000, Step::Unanswered, 5000},  // the minute before was the operator's, not the BMC's
      {66000, Step::Unanswered, 5000},
      {78000, Step::Unanswered, 5000},  // 7 s left: a full session fits
      {79500, Step::Unanswered, 3500},
      {81500, Step::Unanswered, 1500},
      {82000, Step::Unanswered, 1000},
      {82001, Step::Restart, 0},        // less than 3 s left: nothing starts
      {95000, Step::Unanswered, 5000},  // a fresh 25 s from the restart
      {123000, Step::Restart, 0},
      {126000, Step::Answered, 5000},
      {200000, Step::Unanswered, 5000},
  };
  gNow = {};
  LanWaitBudget budget(FakeNow);
  for (const Case& c : cases) {
    gNow = std::chrono::steady_clock::time_point{} + milliseconds(c.atMs);
    const LanSessionWait wait = budget.Begin();
    EXPECT_EQ(wait.sessionTimeoutMs, c.timeoutMs) << "at " << c.atMs << " ms";
    if (wait.sessionTimeoutMs != 0) {
      EXPECT_LT(wait.retransmissionTimeoutMs, wait.sessionTimeoutMs) << c.atMs;
    }
    if (c.step == Step::Answered) budget.Answered();
    if (c.step == Step::Unanswered) budget.Unanswered();
    if (c.step == Step::Restart) budget.Restart();
  }
}

}  // namespace

// A privilege the BMC will not grant: without opensesspriv the line says to
// try it (OpenIPMI's ipmi_sim grants ADMIN only when asked while the session
// opens); with it, or for any other failure, it does not.
TEST_F(LanSettingsTest, ARefusedPrivilegeSuggestsOpensessprivUnlessItIsSet) {
  const std::string refused = "the BMC at 10.0.5.17 does not grant this user the privilege asked for (TAGFORGE_LAN_PRIVILEGE)";
  const std::string hint = "; if the user holds it, try TAGFORGE_LAN_WORKAROUNDS=opensesspriv";
  struct Case {
    const char* workarounds;
    int errnum;
    std::string line;
  };
  const Case cases[] = {
      {"", IPMI_ERR_PRIVILEGE_LEVEL_CANNOT_BE_OBTAINED, refused + hint},
      {"", IPMI_ERR_PRIVILEGE_LEVEL_INSUFFICIENT, refused + hint},
      {"authcap", IPMI_ERR_PRIVILEGE_LEVEL_CANNOT_BE_OBTAINED, refused + hint},
      {"opensesspriv", IPMI_ERR_PRIVILEGE_LEVEL_CANNOT_BE_OBTAINED, refused},
      {"authcap,opensesspriv", IPMI_ERR_PRIVILEGE_LEVEL_INSUFFICIENT, refused},
      {"", IPMI_ERR_PASSWORD_INVALID, "the BMC at 10.0.5.17 refused the user or the password"},
      // ipmi_sim's "insufficient resources for session", once killed runs have left every session open.
      {"", IPMI_ERR_IPMI_ERROR,
       "no IPMI 2.0 session with 10.0.5.17: internal IPMI error (the BMC may have no session free: those that killed "
       "runs left open end when it times them out; run again then)"},
  };
  for (const Case& c : cases) {
    for (const char* name : LAN_VARIABLES) unsetenv(name);
    setenv("TAGFORGE_LAN_PASSWORD", "secret", 1);
    setenv("TAGFORGE_LAN_WORKAROUNDS", c.workarounds, 1);
    LanSettings settings;
    std::string error;
    ASSERT_TRUE(ReadLanSettings("10.0.5.17", &settings, &error)) << error;
    EXPECT_EQ(LanSessionFailure(c.errnum, settings), c.line) << c.workarounds;
  }
}
