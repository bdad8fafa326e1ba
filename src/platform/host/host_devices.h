// The host's ways to a FRU, one row each: a prefix of TAGFORGE_BMC, its usage
// text and an open function that reads its own suffix. The choice, the error
// that lists the accepted forms, the reset and the lookup all walk the table;
// a new device is one file, one row and its tests.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

struct HostRoots;

// An opened device: owns what it holds open until the run ends.
class HostDevice {
 public:
  virtual ~HostDevice() = default;
  // What the core reaches the FRU through (PlatformLocateFruAccess).
  virtual PlatformFruAccess Access() = 0;
  // The CPU I/O ports behind a KCS interface (the simulated BMC, the real
  // ports); null for the others.
  virtual const PlatformCpuIo* Ports() { return nullptr; }
  // A fresh wait bound for a BMC that stopped answering (the restore after a
  // failed write).
  virtual void RestartWaits() {}
  // A BMC reached over the network: this machine's SMBIOS says nothing of its board.
  virtual bool Remote() const { return false; }
  // A stall that advances a simulated clock instead of sleeping: true when taken.
  virtual bool Stall(uint32_t /*microseconds*/) { return false; }
  // Keeps other programs off the FRU for the rest of the run (an image file's
  // own lock): exclusive for a run that writes, shared for one that reads.
  // False with the one line to print in *problem when the run must not go on.
  virtual bool HoldForRun(bool /*writes*/, std::string* /*problem*/) { return true; }
};

// What opening a row gives the run.
struct HostOpened {
  std::unique_ptr<HostDevice> device;
  std::string name;      // one name for one device however it was written ("sim:/abs/path", "lan:ADDR")
  std::string lockName;  // what a run locks (a file by device and inode); name when empty
  std::string notice;    // a line for standard error about a choice made for the user
};

// Opens the device the suffix (what follows the prefix) names; false with
// the one line to print in *error. A suffix that is none of the row's forms
// ("kernel:x") leaves *error empty: the choice then prints the line that lists
// every accepted form.
using HostOpenFunction = bool(const std::string& suffix, const HostRoots& roots, HostOpened* opened,
                              std::string* error);

struct HostDeviceRow {
  const char* prefix;  // "sim", "file:", ...: TAGFORGE_BMC starts with it
  const char* usage;   // the accepted forms, for the error that lists them ("sim, sim:PATH")
  HostOpenFunction* open;
  // This machine's SMBIOS does not describe the board the device belongs to
  // (a BMC over the network, an image file, a card's EEPROM). Known from the
  // setting alone: the field values are taken before any device is opened.
  bool remote;
};

// The setting's row, or null when no row takes it.
const HostDeviceRow* HostDeviceRowOf(const char* setting);

// The rows, in the order they are matched (a longer prefix before a shorter one).
const HostDeviceRow* HostDeviceRows(size_t* count);

// True in a build with LAN support (lan:HOST through libfreeipmi).
bool HostHasLan();
