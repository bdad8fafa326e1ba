#include "cli_harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace {

// Each test writes its journal entries in a folder of its own, never the user's.
std::string TestJournalFolder(const CliRun& run) {
  if (!run.workingDirectory.empty()) return run.workingDirectory + "/.tagforge-journal";
  static TempDir scratch;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  return scratch.path() + "/" + (test == nullptr ? "outside-tests" : std::string(test->test_suite_name()) + "." + test->name());
}

}  // namespace

CliResult RunTagforge(const CliRun& run) {
  // A run that never reads its input (a check) closes the pipe under the feeder: not a reason to die.
  signal(SIGPIPE, SIG_IGN);
  int outPipe[2];
  int inPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0 || pipe(inPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe");

  std::vector<std::string> argStorage{TAGFORGE_BINARY};
  if (!run.user.empty()) {
    const struct passwd* user = getpwnam(run.user.c_str());
    if (user == nullptr) throw std::runtime_error("no user " + run.user);
    argStorage.insert(argStorage.begin(), {"/usr/bin/setpriv", "--reuid=" + std::to_string(user->pw_uid),
                                           "--regid=" + std::to_string(user->pw_gid), "--clear-groups", "--"});
  }
  argStorage.insert(argStorage.end(), run.args.begin(), run.args.end());
  std::vector<char*> argv;
  for (std::string& a : argStorage) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStorage{"PATH=/usr/bin:/bin"};
  for (const auto& [key, value] : run.env) envStorage.push_back(key + "=" + value);
  if (run.env.count("TAGFORGE_JOURNAL") == 0) envStorage.push_back("TAGFORGE_JOURNAL=" + TestJournalFolder(run));
  std::vector<char*> envp;
  for (std::string& e : envStorage) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  posix_spawn_file_actions_addclose(&actions, inPipe[1]);
  posix_spawn_file_actions_addclose(&actions, outPipe[0]);
  if (!run.workingDirectory.empty()) posix_spawn_file_actions_addchdir_np(&actions, run.workingDirectory.c_str());

  pid_t pid;
  int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  if (spawned != 0) throw std::runtime_error("spawn " + argStorage[0]);

  std::thread feeder([&] {
    size_t written = 0;
    while (written < run.input.size()) {
      ssize_t n = write(inPipe[1], run.input.data() + written, run.input.size() - written);
      if (n <= 0) break;
      written += static_cast<size_t>(n);
    }
    close(inPipe[1]);
  });

  CliResult result;
  std::thread errorReader([&] {
    char buffer[4096];
    ssize_t n;
    while ((n = read(errPipe[0], buffer, sizeof(buffer))) > 0) result.errors.append(buffer, static_cast<size_t>(n));
    close(errPipe[0]);
  });
  char buffer[4096];
  ssize_t n;
  while ((n = read(outPipe[0], buffer, sizeof(buffer))) > 0) result.output.append(buffer, static_cast<size_t>(n));
  close(outPipe[0]);
  errorReader.join();
  feeder.join();
  int waitStatus = 0;
  waitpid(pid, &waitStatus, 0);
  result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
  result.signalled = WIFSIGNALED(waitStatus);
  // Whatever a test asserts, a run in which the host broke the KCS protocol fails.
  if (result.errors.find("sim: protocol violations") != std::string::npos) ADD_FAILURE() << result.errors;
  return result;
}

std::string SecondUser() {
  if (geteuid() != 0 || getpwnam("nobody") == nullptr || access("/usr/bin/setpriv", X_OK) != 0) return "";
  return "nobody";
}

std::string WithoutBmcLines(const std::string& text, bool sizeToo) {
  std::istringstream in(text);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("BMC Revision = ", 0) == 0) continue;
    if (sizeToo && line.rfind("Inventory FRU Size = ", 0) == 0) continue;
    out += line + "\n";
  }
  return out;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/tagforge-cli-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() { std::filesystem::remove_all(path_); }

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
