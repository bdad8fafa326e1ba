// Boots Debian's kernel in QEMU with a busybox initramfs that runs shell
// steps and powers off, and reads each step's console text and status back;
// the host program's runs on a FRU file to compare the guest's against.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "fru_bytes.h"

constexpr int kBootTimeoutSeconds = 300;

struct Step {
  std::string name;
  std::string command;  // a shell line inside the VM
};

struct VmRun {
  std::string output;  // without the journal's warning below, so that it compares with the host's text
  int status = -1;
  double seconds = 0;  // guest time of a step that measures itself
  // The journal of an initramfs lives in RAM: each writing run warns once on standard error.
  int ramJournalWarnings = 0;
};

// A FRU of size bytes (256 or more) with chassis, board and product areas and
// room behind them, then a MultiRecord Area from offset 128 to the end whose
// bytes all differ from their neighbours': a byte read from the wrong offset shows.
inline Bytes VmFru(size_t size) {
  const Bytes date{0x00, 0x20, 0x57, 0xE2};
  return Image(size, {0, 1, 3, 6, 16},
               {{1, InfoArea({{0x17}, Text(""), Text("CS-1"), Text("")})},
                {3, InfoArea({date, Text("Acme"), Text(""), Text("SN-OLD"), Text(""), {0x00}})},
                {6, InfoArea({{0x00}, Text("Acme"), Text("Box"), Text(""), Text(""), Text(""), Text(""), {0x00}})},
                {16, MultiRecords(size - 128, 0x11, 3)}});
}

// Whether scripts/linux_vm.sh has left the kernel, busybox and every module a boot loads.
bool VmReady();

bool IsStatic(const std::string& program);

std::string BootDir(const std::string& name);

// A step that also reports its own guest time, in a line the parser takes apart.
std::string Timed(const std::string& command);

// The same, timing the command alone: its output goes to a file and is shown after the clock stopped.
std::string TimedQuiet(const std::string& command);

// Boots the kernel with an initramfs that runs the steps and powers off, the
// BMC given by bmcOptions (QEMU options; the FRU file is fru.bin in the boot's
// folder). Every module of build/linux-vm is in /mods, each of files at its
// path under the root. Returns each step's console text and status.
std::map<std::string, VmRun> Boot(const std::string& name, const std::vector<Step>& steps, const Bytes& fru,
                                  const std::string& bmcOptions, const std::map<std::string, Bytes>& files = {});

// The host program's runs, one after another on one FRU file named by device
// ("sim:" or "eeprom:" followed by the file's path): each run's text, status and
// the file's bytes after it.
struct HostRun {
  std::string output;
  int status = -1;
  Bytes after;
};
struct HostRuns {
  std::map<std::string, HostRun> runs;
  std::string file;  // the FRU file's path, as the runs name it
};
HostRuns RunOnHost(const std::vector<std::pair<std::string, std::vector<std::string>>>& runs, const Bytes& fru,
                   const std::string& device);

// The bytes of the first hex dump in a listing (the FRU as read), empty when there is none.
Bytes ListedBytes(const std::string& text);

// The bytes of base64 text; lines holding anything but base64 (a kernel message) are passed over.
Bytes Base64Bytes(const std::string& text);

// The arguments as one shell line (none of them needs quoting).
std::string Joined(const std::vector<std::string>& args);

// Every occurrence of from replaced by to.
std::string Replaced(std::string text, const std::string& from, const std::string& to);
