#include "qemu_shell.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

const char* const kOvmfCode = "/usr/share/OVMF/OVMF_CODE_4M.fd";
const char* const kOvmfVars = "/usr/share/OVMF/OVMF_VARS_4M.fd";
const char* const kBegin = "===BEGIN ";
const char* const kStatus = "===STATUS ";
// The shell waits this long before running startup.nsh unless a key is pressed.
const char* const kCountdown = "startup.nsh";

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// startup.nsh: each command between markers, its status after it, then power off.
std::string Script(const Boot& boot) {
  std::string script = "@echo -off\r\nFS0:\r\n";
  for (const ShellCommand& c : boot.commands) {
    script += "echo " + std::string(kBegin) + c.name + "\r\n";
    script += c.command + "\r\n";
    script += "echo " + std::string(kStatus) + "%lasterror%\r\n";
  }
  script += "reset -s\r\n";
  return script;
}

std::map<std::string, CommandResult> Split(const std::string& transcript) {
  std::map<std::string, CommandResult> commands;
  size_t at = 0;
  while ((at = transcript.find(kBegin, at)) != std::string::npos) {
    size_t nameEnd = transcript.find('\n', at);
    if (nameEnd == std::string::npos) break;
    std::string name = transcript.substr(at + strlen(kBegin), nameEnd - at - strlen(kBegin));
    size_t status = transcript.find(kStatus, nameEnd);
    if (status == std::string::npos) break;
    size_t statusEnd = transcript.find('\n', status);
    CommandResult result;
    result.output = transcript.substr(nameEnd + 1, status - nameEnd - 1);
    result.status = transcript.substr(status + strlen(kStatus), statusEnd - status - strlen(kStatus));
    commands[name] = result;
    at = status;
  }
  return commands;
}

}  // namespace

std::string CleanConsole(const std::string& raw) {
  std::string out;
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '\x1b') {
      // CSI sequences: ESC [ parameters final-byte; other escapes are two bytes.
      if (i + 1 < raw.size() && raw[i + 1] == '[') {
        i += 2;
        while (i < raw.size() && !(raw[i] >= '@' && raw[i] <= '~')) ++i;
      } else {
        ++i;
      }
      continue;
    }
    if (c == '\r') continue;
    out += c;
  }
  return out;
}

BootResult RunBoot(const Boot& boot, int timeoutSeconds) {
  const fs::path dir = fs::path(TAGFORGE_BUILD_DIR) / "e2e" / boot.name;
  fs::remove_all(dir);
  fs::create_directories(dir / "fat");
  fs::copy_file(TAGFORGE_EFI, dir / "fat" / "Tagforge.efi");
  fs::copy_file(fs::path(TAGFORGE_BUILD_DIR) / "drop_smbios2.efi", dir / "fat" / "drop_smbios2.efi");
  for (const auto& [name, bytes] : boot.files) WriteFile(dir / name, bytes);
  const std::string script = Script(boot);
  WriteFile(dir / "fat" / "startup.nsh", std::vector<uint8_t>(script.begin(), script.end()));
  fs::copy_file(kOvmfVars, dir / "vars.fd");
  const std::string serial = (dir / "serial").string();
  mkfifo((serial + ".in").c_str(), 0600);
  mkfifo((serial + ".out").c_str(), 0600);

  std::vector<std::string> args{"qemu-system-x86_64", "-m", "256", "-display", "none", "-net", "none",
                                "-no-reboot", "-serial", "pipe:" + serial,
                                "-drive", std::string("if=pflash,format=raw,readonly=on,file=") + kOvmfCode,
                                "-drive", "if=pflash,format=raw,file=" + (dir / "vars.fd").string(),
                                "-drive", "file=fat:rw:" + (dir / "fat").string() + ",format=raw,media=disk"};
  bool machineGiven = false;
  for (const std::string& o : boot.qemuOptions) machineGiven = machineGiven || o.rfind("q35", 0) == 0;
  if (!machineGiven) args.insert(args.begin() + 1, {"-machine", "q35,accel=tcg"});
  for (const std::string& o : boot.qemuOptions) args.push_back(o);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, (dir / "qemu.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid;
  BootResult result;
  if (posix_spawnp(&pid, "qemu-system-x86_64", &actions, nullptr, argv.data(), environ) != 0) {
    result.transcript = "cannot start qemu-system-x86_64";
    return result;
  }
  posix_spawn_file_actions_destroy(&actions);

  // QEMU opens the input side first; opening ours read-write never blocks.
  int out = open((serial + ".out").c_str(), O_RDONLY | O_NONBLOCK);
  int in = open((serial + ".in").c_str(), O_RDWR);
  std::string raw;
  std::vector<std::pair<std::string, std::string>> typing{{kCountdown, "\r"}};
  for (const ShellCommand& c : boot.commands) typing.insert(typing.end(), c.typing.begin(), c.typing.end());
  size_t nextTyping = 0;
  size_t searchFrom = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int waitStatus = 0;
  for (;;) {
    if (waitpid(pid, &waitStatus, WNOHANG) == pid) {
      result.finished = WIFEXITED(waitStatus);
      pid = -1;
    }
    pollfd p{out, POLLIN, 0};
    if (poll(&p, 1, 100) > 0) {
      char buffer[4096];
      ssize_t n = read(out, buffer, sizeof(buffer));
      if (n > 0) raw.append(buffer, static_cast<size_t>(n));
    }
    if (nextTyping < typing.size()) {
      std::string clean = CleanConsole(raw);
      size_t found = clean.find(typing[nextTyping].first, searchFrom);
      if (found != std::string::npos) {
        const std::string& keys = typing[nextTyping].second;
        if (write(in, keys.data(), keys.size()) < 0) break;
        searchFrom = found + typing[nextTyping].first.size();
        ++nextTyping;
      }
    }
    if (pid == -1) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &waitStatus, 0);
      break;
    }
  }
  // What the machine wrote last is still in the pipe.
  for (;;) {
    char buffer[4096];
    ssize_t n = read(out, buffer, sizeof(buffer));
    if (n <= 0) break;
    raw.append(buffer, static_cast<size_t>(n));
  }
  close(out);
  close(in);
  result.transcript = CleanConsole(raw);
  std::ofstream(dir / "console.txt", std::ios::binary) << result.transcript;
  result.commands = Split(result.transcript);
  return result;
}
