// Boots Tagforge.efi in QEMU with Debian's OVMF into the UEFI shell, runs a
// script of shell commands there, types into the serial console when asked
// for, and splits the console transcript into one piece per command.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ShellCommand {
  std::string name;     // labels the command's piece of the transcript
  std::string command;  // a UEFI shell command line
  // Keyboard input: each entry is typed once the console shows its prompt.
  std::vector<std::pair<std::string, std::string>> typing;
};

struct Boot {
  std::string name;                                     // names the artifact folder under build/e2e
  std::vector<std::string> qemuOptions;                 // devices and machine options of this boot
  std::map<std::string, std::vector<uint8_t>> files;    // put on the FAT volume next to Tagforge.efi
  std::vector<ShellCommand> commands;
};

struct CommandResult {
  std::string output;  // the command's console text, escapes stripped, CR LF as LF
  std::string status;  // %lasterror% as the shell shows it, such as 0x0
};

struct BootResult {
  bool finished = false;  // the machine powered itself off in time
  std::string transcript;
  std::map<std::string, CommandResult> commands;
};

// Runs the boot; timeoutSeconds bounds the whole run.
BootResult RunBoot(const Boot& boot, int timeoutSeconds);

// The console's terminal escapes removed and CR LF turned into LF.
std::string CleanConsole(const std::string& raw);
