#include "linux_vm.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli_harness.h"

namespace fs = std::filesystem;

namespace {

const fs::path kVm = fs::path(TAGFORGE_BUILD_DIR) / "linux-vm";

// The modules a boot loads; scripts/linux_vm.sh fetches the same list.
const char* const kModules[] = {"ipmi_msghandler", "ipmi_devintf", "ipmi_si",  "ipmi_ssif",
                                "i2c-smbus",       "i2c-i801",     "at24"};

bool Shell(const std::string& line) { return std::system(line.c_str()) == 0; }

bool IsHex(const std::string& word) { return !word.empty() && word.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos; }

// Copies the program and every library it loads (none for a static one) into the root.
void AddProgram(const fs::path& root, const std::string& program) {
  fs::create_directories(root / "bin");
  fs::copy_file(program, root / "bin/tagforge", fs::copy_options::overwrite_existing);
  if (IsStatic(program)) return;
  const std::string list = (root.parent_path() / "libs.txt").string();
  ASSERT_TRUE(Shell("ldd " + program + " | grep -o '/[^ ]*' > " + list));
  std::ifstream in(list);
  for (std::string library; std::getline(in, library);) {
    fs::create_directories(root / fs::path(library).relative_path().parent_path());
    fs::copy_file(fs::canonical(library), root / fs::path(library).relative_path(), fs::copy_options::overwrite_existing);
  }
}

}  // namespace

bool VmReady() {
  if (!fs::exists(kVm / "ready") || !fs::exists(kVm / "vmlinuz") || !fs::exists(kVm / "busybox")) return false;
  for (const char* m : kModules) {
    if (!fs::exists(kVm / "modules" / (std::string(m) + ".ko"))) return false;
  }
  return true;
}

bool IsStatic(const std::string& program) { return Shell("file " + program + " | grep -q 'statically linked'"); }

std::string BootDir(const std::string& name) { return (fs::path(TAGFORGE_BUILD_DIR) / "linux" / name).string(); }

std::string Timed(const std::string& command) {
  return "s=$(cut -d' ' -f1 /proc/uptime); " + command + "; r=$?; echo \"=== elapsed $s $(cut -d' ' -f1 /proc/uptime)\"; (exit $r)";
}

std::string TimedQuiet(const std::string& command) {
  return Timed(command + " > /timed.txt") + "; r=$?; cat /timed.txt; (exit $r)";
}

std::map<std::string, VmRun> Boot(const std::string& name, const std::vector<Step>& steps, const Bytes& fru,
                                  const std::string& bmcOptions, const std::map<std::string, Bytes>& files) {
  const fs::path dir = BootDir(name);
  const fs::path root = dir / "root";
  fs::create_directories(root / "mods");
  fs::create_directories(root / "bin");
  fs::copy_file(kVm / "busybox", root / "bin/busybox");
  for (const char* m : kModules) fs::copy_file(kVm / "modules" / (std::string(m) + ".ko"), root / "mods" / (std::string(m) + ".ko"));
  for (const auto& [path, bytes] : files) {
    fs::create_directories((root / fs::path(path).relative_path()).parent_path());
    WriteFileBytes((root / fs::path(path).relative_path()).string(), bytes);
  }
  AddProgram(root, TAGFORGE_BINARY);
  std::ofstream init(root / "init");
  init << "#!/bin/busybox sh\n/bin/busybox --install -s /bin\n"
          "mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev\nmkdir -p /tmp; cd /tmp\n";
  for (const Step& s : steps) {
    init << "echo '=== begin " << s.name << "'\n" << s.command << " 2>&1\necho \"=== status " << s.name << " $?\"\n";
  }
  init << "poweroff -f\n";
  init.close();
  fs::permissions(root / "init", fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  for (const char* d : {"dev", "proc", "sys"}) fs::create_directories(root / d);
  if (!fru.empty() && !fs::exists(dir / "fru.bin")) WriteFileBytes((dir / "fru.bin").string(), fru);
  EXPECT_TRUE(Shell("cd " + root.string() + " && find . | cpio -o -H newc 2>/dev/null | gzip > ../initrd.gz"));
  const std::string qemu =
      "cd " + dir.string() + " && nice timeout " + std::to_string(kBootTimeoutSeconds) +
      " qemu-system-x86_64 -machine q35,accel=tcg -m 512 -nographic -no-reboot -net none -kernel " +
      (kVm / "vmlinuz").string() + " -initrd initrd.gz -append 'console=ttyS0 quiet panic=-1'" +
      " " + bmcOptions + " < /dev/null > console.txt 2>&1";
  Shell(qemu);
  std::ifstream console(dir / "console.txt");
  std::map<std::string, VmRun> runs;
  std::string current;
  for (std::string line; std::getline(console, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // The firmware's screen clearing may stand before the first marker on its line.
    const size_t begin = line.find("=== begin ");
    if (begin != std::string::npos) {
      current = line.substr(begin + 10);
      continue;
    }
    if (line.rfind("=== elapsed ", 0) == 0 && !current.empty()) {
      double start = 0, end = 0;
      std::istringstream(line.substr(12)) >> start >> end;
      runs[current].seconds = end - start;
      continue;
    }
    if (line.rfind("=== status ", 0) == 0) {
      std::istringstream words(line.substr(11));
      std::string stepName;
      words >> stepName >> runs[stepName].status;
      current.clear();
      continue;
    }
    if (!current.empty() && line.rfind("tagforge: the journal folder ", 0) == 0 &&
        line.find(" is in memory (") != std::string::npos) {
      ++runs[current].ramJournalWarnings;
      continue;
    }
    if (!current.empty()) runs[current].output += line + "\n";
  }
  return runs;
}

HostRuns RunOnHost(const std::vector<std::pair<std::string, std::vector<std::string>>>& runs, const Bytes& fru,
                   const std::string& device) {
  TempDir dir;
  HostRuns result;
  result.file = dir.File("fru.bin");
  WriteFileBytes(result.file, fru);
  for (const auto& [name, args] : runs) {
    const CliResult run = RunTagforge(CliRun{args, {{"TAGFORGE_BMC", device + result.file}}, "", dir.path()});
    result.runs[name] = HostRun{run.output, run.status, ReadFileBytes(result.file)};
  }
  return result;
}

Bytes ListedBytes(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line) && line.find("00 01 02 03 04 05 06 07") == std::string::npos) {
  }
  Bytes bytes;
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) break;
    std::istringstream row(line.substr(0, tab));
    std::string word;
    if (!(row >> word) || !IsHex(word) || std::stoul(word, nullptr, 16) != bytes.size()) break;
    while (row >> word && IsHex(word) && word.size() == 2) bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
  }
  return bytes;
}

Bytes Base64Bytes(const std::string& text) {
  static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::istringstream in(text);
  Bytes bytes;
  uint32_t bits = 0;
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line.find_first_not_of(kAlphabet + "=") != std::string::npos) continue;
    for (char c : line) {
      if (c == '=') break;
      bits = bits << 6 | static_cast<uint32_t>(kAlphabet.find(c));
      count += 6;
      if (count >= 8) {
        count -= 8;
        bytes.push_back(static_cast<uint8_t>(bits >> count));
      }
    }
  }
  return bytes;
}

std::string Joined(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) line += (line.empty() ? "" : " ") + arg;
  return line;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}
