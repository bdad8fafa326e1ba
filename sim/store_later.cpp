#include "store_later.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "fru_image_check.h"

namespace sim {

namespace {

constexpr uint64_t kStoreDelayUs = 10'000'000;  // from the last write that did not reach the end
constexpr uint64_t kRescanUs = 1'000'000;       // the FRU service shows the old image until it rescans
constexpr uint64_t kMissingUs = 200'000;        // then the device is missing for this long
constexpr size_t kFruMax = 0xFFFF;
constexpr size_t kCountMax = 255;
constexpr uint8_t kCcOk = 0x00;
constexpr uint8_t kCcInvalidData = 0xCC;
constexpr uint8_t kCcOutOfRange = 0xC9;
constexpr uint8_t kCcUnavailable = 0xCE;
constexpr uint8_t kCcUnspecified = 0xFF;

// PATH.cache: the magic, the microseconds left until the timer's store
// (all ones: no timer), then the cache's bytes.
constexpr char kMagic[8] = {'T', 'F', 'C', 'A', 'C', 'H', 'E', '1'};
constexpr uint64_t kNoDeadline = UINT64_MAX;

std::string CachePath(const std::string& path) { return path + ".cache"; }

// The FRU service hands out the FRU's used bytes: up to the end of its last area.
std::vector<uint8_t> UsedBytes(const std::vector<uint8_t>& fru) {
  const size_t end = LastAreaEnd(fru);
  if (end == 0 || end > fru.size()) return fru;
  return std::vector<uint8_t>(fru.begin(), fru.begin() + static_cast<long>(end));
}

}  // namespace

void LaterStore::Open(const std::string& path, std::vector<uint8_t>* fru) {
  path_ = path;
  fru_ = fru;
  // Opened again once a run holds its lock: only what the cache file says now counts.
  cache_.reset();
  deadline_.reset();
  if (path_.empty()) return;
  std::ifstream in(CachePath(path_), std::ios::binary);
  if (!in) return;
  const std::vector<uint8_t> kept{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (kept.size() < sizeof(kMagic) + 8 || !std::equal(kMagic, kMagic + sizeof(kMagic), kept.begin())) return;
  uint64_t left = 0;
  for (size_t i = 0; i < 8; ++i) left |= static_cast<uint64_t>(kept[sizeof(kMagic) + i]) << (8 * i);
  cache_.emplace(kept.begin() + sizeof(kMagic) + 8, kept.end());
  if (left != kNoDeadline) deadline_ = Now() + left;
}

void LaterStore::Save() const {
  if (path_.empty()) return;
  const std::string target = CachePath(path_);
  if (!cache_) {
    std::remove(target.c_str());
    return;
  }
  const uint64_t left = deadline_ ? (*deadline_ > Now() ? *deadline_ - Now() : 0) : kNoDeadline;
  std::vector<uint8_t> bytes(kMagic, kMagic + sizeof(kMagic));
  for (size_t i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(left >> (8 * i)));
  bytes.insert(bytes.end(), cache_->begin(), cache_->end());
  // Written aside and renamed: a run killed meanwhile leaves the old state or the new, whole.
  const std::string temporary = target + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::rename(temporary.c_str(), target.c_str());
}

std::optional<std::vector<uint8_t>> LaterStore::ServiceView() {
  if (storedAt_ && Now() < *storedAt_ + kRescanUs) return beforeStore_;
  if (storedAt_ && Now() < *storedAt_ + kRescanUs + kMissingUs) return std::nullopt;
  return UsedBytes(*fru_);
}

void LaterStore::Tick() {
  if (never_ || !deadline_ || Now() < *deadline_) return;
  deadline_.reset();
  // A cache that does not parse is not stored: the daemon only logs that.
  if (cache_ && ParsesAsFru(*cache_)) {
    StoreNow();
  } else {
    Save();
  }
}

const std::vector<uint8_t>* LaterStore::Visible() {
  if (cache_) return &*cache_;
  std::optional<std::vector<uint8_t>> view = ServiceView();
  if (!view) return nullptr;
  visible_ = std::move(*view);
  return &visible_;
}

void LaterStore::StoreNow() {
  std::optional<std::vector<uint8_t>> before = ServiceView();
  beforeStore_ = before ? std::move(*before) : UsedBytes(*fru_);
  if (!never_ && !path_.empty()) {
    const int fd = open(path_.c_str(), O_WRONLY);
    const bool stored = fd >= 0 && pwrite(fd, cache_->data(), cache_->size(), 0) == static_cast<ssize_t>(cache_->size());
    if (fd >= 0) close(fd);
    if (!stored) return;  // the cache stays for the timer's next try
  }
  if (!never_) {
    if (fru_->size() < cache_->size()) fru_->resize(cache_->size());
    std::copy(cache_->begin(), cache_->end(), fru_->begin());
  }
  storedAt_ = Now();
  cache_.reset();
  deadline_.reset();
  Save();
}

uint8_t LaterStore::Write(size_t offset, const std::vector<uint8_t>& bytes, uint8_t* count) {
  if (!cache_) {
    std::optional<std::vector<uint8_t>> view = ServiceView();
    if (!view) return kCcUnavailable;
    cache_ = std::move(view);
  }
  if (offset + bytes.size() > kFruMax) return kCcOutOfRange;
  if (offset + bytes.size() > cache_->size()) cache_->resize(offset + bytes.size(), 0xFF);
  std::copy(bytes.begin(), bytes.end(), cache_->begin() + static_cast<long>(offset));
  if (offset + bytes.size() < LastAreaEnd(*cache_)) {
    deadline_ = Now() + kStoreDelayUs;
    Save();
    *count = 0;
    return kCcOk;
  }
  if (!ParsesAsFru(*cache_)) {
    Save();
    return kCcInvalidData;
  }
  *count = static_cast<uint8_t>(cache_->size() < kCountMax ? cache_->size() : kCountMax);
  StoreNow();
  return cache_ ? kCcUnspecified : kCcOk;
}

}  // namespace sim
