#include "bmc_core.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fstream>
#include <iterator>

namespace sim {

namespace {

constexpr uint8_t kNetFnApp = 0x06;
constexpr uint8_t kNetFnStorage = 0x0A;
constexpr uint8_t kGetDeviceId = 0x01;
constexpr uint8_t kGetDeviceGuid = 0x08;
constexpr uint8_t kGetFruInventoryAreaInfo = 0x10;
constexpr uint8_t kReadFruData = 0x11;
constexpr uint8_t kWriteFruData = 0x12;

constexpr uint8_t kCcOk = 0x00;
constexpr uint8_t kCcInvalidCommand = 0xC1;
constexpr uint8_t kCcRequestLengthInvalid = 0xC7;
constexpr uint8_t kCcOutOfRange = 0xC9;
constexpr uint8_t kCcCannotReturnCount = 0xCA;
constexpr uint8_t kCcNotPresent = 0xCB;
constexpr uint8_t kCcBusy = 0x81;
constexpr uint8_t kCcUnavailable = 0xCE;
constexpr uint8_t kCcUnspecified = 0xFF;

constexpr size_t kFruMax = 0xFFFF;

int CommandIndex(Command c) { return static_cast<int>(c); }

}  // namespace

// Only a file that is not there is made from the sample: one that cannot be
// opened for another reason (a full file table, a permission) is someone's
// FRU, and is left alone.
bool BmcCore::Open(const std::string& path, const std::vector<uint8_t>& sampleImage, std::string* error) {
  path_ = path;
  if (!Load(sampleImage, error)) return false;
  // A BMC that stores later meets the cache a killed run left beside the file.
  if (later_) later_->Open(path, &fru_);
  return true;
}

bool BmcCore::Load(const std::vector<uint8_t>& sampleImage, std::string* error) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    // Not blocking: a FIFO at the path must be refused, not waited on.
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
      struct stat info{};
      if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        *error = "cannot use the simulated BMC's FRU file " + path_ + ": it is not a regular file";
        return false;
      }
      return ReadFru(fd, error);
    }
    if (errno != ENOENT) break;
    const int made = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (made < 0 && errno == EEXIST) continue;  // another run made it first: read theirs
    if (made < 0) {
      *error = "cannot create the simulated BMC's FRU file " + path_ + ": " + strerror(errno);
      return false;
    }
    const bool stored = write(made, sampleImage.data(), sampleImage.size()) == static_cast<ssize_t>(sampleImage.size());
    const int failure = errno;
    close(made);
    if (!stored) {
      *error = "cannot create the simulated BMC's FRU file " + path_ + ": " + strerror(failure);
      return false;
    }
    fru_ = sampleImage;
    return true;
  }
  const int failure = errno;
  // The sample is never made through a link (O_EXCL): one that points nowhere is said as such.
  struct stat link{};
  if (failure == EEXIST && lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    *error = "cannot use the simulated BMC's FRU file " + path_ + ": it is a symbolic link to nothing";
    return false;
  }
  *error = "cannot open the simulated BMC's FRU file " + path_ + ": " + strerror(failure);
  return false;
}

bool BmcCore::Reload(std::string* error) {
  if (path_.empty()) return true;
  const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info{};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = "cannot read the simulated BMC's FRU file " + path_ + " again: " +
             (fd < 0 ? strerror(errno) : "it is not a regular file");
    if (fd >= 0) close(fd);
    return false;
  }
  if (!ReadFru(fd, error)) return false;
  if (later_) later_->Open(path_, &fru_);
  return true;
}

bool BmcCore::ReadFru(int fd, std::string* error) {
  fru_.clear();
  uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = "cannot read the simulated BMC's FRU file " + path_ + ": " + strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    fru_.insert(fru_.end(), buffer, buffer + n);
    if (fru_.size() > kFruMax) break;
  }
  close(fd);
  if (fru_.size() > kFruMax) fru_.resize(kFruMax);
  return true;
}

std::optional<uint8_t> BmcCore::InjectedCode(Command command) {
  uint32_t n = ++counts_[CommandIndex(command)];
  uint32_t any = ++counts_[CommandIndex(Command::Any)];
  for (const CompletionFault& f : faults_.completionCodes) {
    uint32_t index = f.command == Command::Any ? any : n;
    if ((f.command == command || f.command == Command::Any) && index >= f.first && index <= f.last) return f.code;
  }
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> BmcCore::Handle(const std::vector<uint8_t>& request) {
  if (faults_.deadAfter >= 0 && requests_ >= static_cast<uint64_t>(faults_.deadAfter)) return std::nullopt;
  ++requests_;
  lastRequest_ = request;
  if (later_) later_->Tick();
  if (request.size() < 2) return std::vector<uint8_t>{0x00, 0x00, kCcRequestLengthInvalid};
  const uint8_t netFn = request[0] >> 2;
  const uint8_t command = request[1];
  const std::vector<uint8_t> data(request.begin() + 2, request.end());

  uint8_t code = kCcOk;
  std::vector<uint8_t> body;
  Command which = Command::Any;
  if (netFn == kNetFnApp && command == kGetDeviceId) which = Command::DeviceId;
  else if (netFn == kNetFnApp && command == kGetDeviceGuid) which = Command::DeviceGuid;
  else if (netFn == kNetFnStorage && command == kGetFruInventoryAreaInfo) which = Command::InventorySize;
  else if (netFn == kNetFnStorage && command == kReadFruData) which = Command::ReadFru;
  else if (netFn == kNetFnStorage && command == kWriteFruData) which = Command::WriteFru;

  std::optional<uint8_t> injected = which == Command::Any ? std::nullopt : InjectedCode(which);
  if (injected) {
    code = *injected;
  } else {
    switch (which) {
      case Command::DeviceId: body = DeviceId(); break;
      case Command::DeviceGuid: body = DeviceGuid(&code); break;
      case Command::InventorySize: body = InventoryInfo(data, &code); break;
      case Command::ReadFru: body = ReadFru(data, &code); break;
      case Command::WriteFru: body = WriteFru(data, &code); break;
      case Command::Any: code = kCcInvalidCommand; break;
    }
  }
  std::vector<uint8_t> response{static_cast<uint8_t>((netFn + 1) << 2 | (request[0] & 0x03)), command, code};
  if (code == kCcOk) response.insert(response.end(), body.begin(), body.end());
  // What an operator's Ctrl-C, a station's kill or a power cut does to the run, at an exact point.
  if (which == faults_.signalAfter && faults_.signal != 0 && counts_[CommandIndex(which)] == faults_.signalAfterWrite) {
    raise(faults_.signal);
  }
  return response;
}

const std::vector<uint8_t>* BmcCore::Visible(uint8_t* code) {
  if (!later_) return &fru_;
  const std::vector<uint8_t>* fru = later_->Visible();
  if (fru == nullptr) *code = kCcUnavailable;  // the FRU service rescans: no device for a moment
  return fru;
}

std::vector<uint8_t> BmcCore::DeviceGuid(uint8_t* code) {
  if (!identity_.hasGuid) {
    *code = kCcInvalidCommand;
    return {};
  }
  return std::vector<uint8_t>(identity_.guid, identity_.guid + sizeof(identity_.guid));
}

std::vector<uint8_t> BmcCore::DeviceId() {
  const uint32_t m = identity_.manufacturerId;
  const uint32_t a = identity_.auxiliary;
  std::vector<uint8_t> body{
      0x20,                                      // device ID
      0x01,                                      // device revision
      identity_.firmwareMajor,                   // firmware revision 1 (bit 7: device available)
      identity_.firmwareMinor,                   // firmware revision 2, BCD
      0x02,                                      // IPMI version 2.0
      0x1F,                                      // additional device support: FRU inventory among others
      static_cast<uint8_t>(m), static_cast<uint8_t>(m >> 8), static_cast<uint8_t>(m >> 16),
      0x34, 0x12,                                // product ID
      static_cast<uint8_t>(a), static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a >> 16),
      static_cast<uint8_t>(a >> 24)};
  body.resize(faults_.deviceIdBytes);
  return body;
}

std::vector<uint8_t> BmcCore::InventoryInfo(const std::vector<uint8_t>& data, uint8_t* code) {
  if (data.size() != 1) {
    *code = kCcRequestLengthInvalid;
    return {};
  }
  if (data[0] != 0) {
    *code = kCcNotPresent;
    return {};
  }
  const std::vector<uint8_t>* fru = Visible(code);
  if (fru == nullptr) return {};
  return {static_cast<uint8_t>(fru->size()), static_cast<uint8_t>(fru->size() >> 8), 0x00};
}

std::vector<uint8_t> BmcCore::ReadFru(const std::vector<uint8_t>& data, uint8_t* code) {
  if (data.size() != 4) {
    *code = kCcRequestLengthInvalid;
    return {};
  }
  if (data[0] != 0) {
    *code = kCcNotPresent;
    return {};
  }
  const size_t offset = data[1] | data[2] << 8;
  size_t count = data[3];
  if (faults_.maxChunk != 0 && count > faults_.maxChunk) {
    *code = kCcCannotReturnCount;
    return {};
  }
  const std::vector<uint8_t>* fru = Visible(code);
  if (fru == nullptr) return {};
  if (offset >= fru->size() || count == 0) {
    *code = kCcOutOfRange;
    return {};
  }
  if (offset + count > fru->size()) count = fru->size() - offset;
  if (faults_.shortRead != 0 && count > faults_.shortRead) count = faults_.shortRead;
  std::vector<uint8_t> body{static_cast<uint8_t>(count)};
  body.insert(body.end(), fru->begin() + static_cast<long>(offset), fru->begin() + static_cast<long>(offset + count));
  for (uint32_t i = 0; i < faults_.longRead; ++i) body.push_back(0xA5);
  return body;
}

std::vector<uint8_t> BmcCore::WriteFru(const std::vector<uint8_t>& data, uint8_t* code) {
  if (data.size() < 4) {
    *code = kCcRequestLengthInvalid;
    return {};
  }
  if (data[0] != 0) {
    *code = kCcNotPresent;
    return {};
  }
  const size_t offset = data[1] | data[2] << 8;
  const size_t count = data.size() - 3;
  if (faults_.maxChunk != 0 && count > faults_.maxChunk) {
    *code = kCcRequestLengthInvalid;
    return {};
  }
  if (writes_++ < faults_.busyWrites) {
    *code = kCcBusy;
    return {};
  }
  if (offset + count > fru_.size() && !later_) {
    *code = kCcOutOfRange;
    return {};
  }
  const uint32_t index = counts_[CommandIndex(Command::WriteFru)];
  for (const auto& [first, last] : faults_.dropped) {
    if (index >= first && index <= last) return {static_cast<uint8_t>(count)};  // taken, by its answer; stored nowhere
  }
  std::vector<uint8_t> bytes(data.begin() + 3, data.end());
  for (const auto& [first, last] : faults_.lastByteWrong) {
    if (index >= first && index <= last) bytes.back() ^= 0xFF;
  }
  if (later_) {
    uint8_t taken = 0;
    *code = later_->Write(offset, bytes, &taken);
    return {taken};
  }
  if (!path_.empty()) {
    int fd = open(path_.c_str(), O_WRONLY);
    bool stored = fd >= 0 && pwrite(fd, bytes.data(), count, static_cast<off_t>(offset)) == static_cast<ssize_t>(count);
    if (fd >= 0) close(fd);
    if (!stored) {
      *code = kCcUnspecified;
      return {};
    }
  }
  std::copy(bytes.begin(), bytes.end(), fru_.begin() + static_cast<long>(offset));
  // Some BMCs stage writes and report 0 bytes written until the last chunk.
  return {static_cast<uint8_t>(faults_.writeCountZero ? 0 : count)};
}

}  // namespace sim
