// The BMC password while a run holds it: one fixed buffer of ours, never a
// std::string (whose copies and reallocations leave bytes behind in freed
// memory), zeroed when it goes and at exit; while any is held the process
// cannot be dumped, so that no core file or ptrace reader gets it.
#pragma once

#include <cstddef>
#include <string>

// The longest user name and password an IPMI 2.0 session takes.
constexpr size_t LAN_USER_MAX = 16;
constexpr size_t LAN_PASSWORD_MAX = 20;

class LanPassword {
 public:
  LanPassword();
  ~LanPassword();
  // A move takes the bytes and zeroes the other's: one live copy only.
  LanPassword(LanPassword&& other) noexcept;
  LanPassword& operator=(LanPassword&& other) noexcept;
  LanPassword(const LanPassword&) = delete;
  LanPassword& operator=(const LanPassword&) = delete;

  // False, holding nothing, when text is longer than LAN_PASSWORD_MAX.
  bool Assign(const char* text, size_t length);
  void Clear();
  const char* Text() const { return text_; }
  size_t Length() const { return length_; }

  // Zeroes every password still held (the exit handler calls it).
  static void ClearAll();

 private:
  // Dumps stay off while any live object holds bytes.
  static void UpdateDumpable();
  void Link();
  void Unlink();

  char text_[LAN_PASSWORD_MAX + 1] = {};
  size_t length_ = 0;
  LanPassword* previous_ = nullptr;
  LanPassword* next_ = nullptr;
};

// Reads the first line of the file at path: a regular file, not a symbolic
// link, that only its owner may read or write; the line not empty and not
// longer than LAN_PASSWORD_MAX (a final CR LF or LF, or none, is all the same).
// False with the one line to print in *error.
bool ReadLanPasswordFile(const std::string& path, LanPassword* password, std::string* error);

// Takes the value of the environment variable name (none: empty), then zeroes
// it there, so that /proc/PID/environ no longer shows it. False with the one
// line to print in *error when it is too long.
bool TakeLanPasswordFromEnvironment(const char* name, LanPassword* password, std::string* error);
