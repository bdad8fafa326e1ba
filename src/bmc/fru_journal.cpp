#include "bmc/fru_journal.h"

#include "bmc/fru_store_order.h"
#include "runtime/print.h"
#include "runtime/text.h"

namespace {

bool SameBmc(const PlatformBmcIdentity& a, const PlatformBmcIdentity& b) {
  if (a.manufacturer != b.manufacturer || a.product != b.product || a.hasGuid != b.hasGuid) return false;
  return !a.hasGuid || CompareBytes(a.guid, b.guid, sizeof(a.guid)) == 0;
}

// The GUID is asked only by runs that need it: those that write or that found an entry.
void KnowGuid(FruJournal* journal, FruDevice& device) {
  if (journal->guidAsked) return;
  journal->guidAsked = true;
  device.ops->AskGuid(device.ops->context, &journal->bmc);
}

// why: "does not match this FRU", "cannot be read".
void SetAside(FruJournal* journal, const char* why) {
  journal->settled = "set aside";
  const char* keptAs = "";
  PlatformJournalSetAside(&keptAs);
  Print("The journal entry of an interrupted run %s: set aside as %s; the FRU is left alone\n", why, keptAs);
}

}  // namespace

JournalMatch MatchJournalEntry(const PlatformJournalEntry& entry, const PlatformBmcIdentity& bmc,
                               const uint8_t* image, size_t size) {
  if (!SameBmc(entry.bmc, bmc)) return JournalMatch::Foreign;
  // A BMC that reports the FRU's used size as its inventory size reports the new
  // image's size once it stored it: up to its last area's end, without the padding after it.
  if (size != entry.originalSize && (size == entry.newSize || size == FruStoreEnd(entry.newImage, entry.newSize)) &&
      size <= entry.newSize) {
    return CompareBytes(image, entry.newImage, size) == 0 ? JournalMatch::New : JournalMatch::Foreign;
  }
  if (entry.originalSize != size || entry.newSize > size) return JournalMatch::Foreign;
  bool original = true;
  bool written = true;
  for (size_t i = 0; i < size; ++i) {
    // Behind the new image a write sends nothing: those bytes stay the original's.
    const uint8_t wanted = i < entry.newSize ? entry.newImage[i] : entry.original[i];
    original = original && image[i] == entry.original[i];
    written = written && image[i] == wanted;
    if (image[i] != entry.original[i] && image[i] != wanted) return JournalMatch::Foreign;
  }
  if (original) return JournalMatch::Original;
  return written ? JournalMatch::New : JournalMatch::Torn;
}

bool OpenFruJournal(FruJournal* journal, int32_t fruId, bool willWrite) {
  journal->on = false;
  journal->guidAsked = false;
  journal->bmc = PlatformBmcIdentity{};
  journal->settled = nullptr;
  journal->restoredBytes = 0;
  const char* problem = nullptr;
  // Requests carry the ID's low 8 bits: ID=256 reaches FRU 0, and must take FRU 0's lock and entry.
  const PlatformStatus status = PlatformJournalOpen(fruId & 0xFF, willWrite, &problem);
  if (status == PLATFORM_ACCESS_DENIED) {
    Print("[ERROR] Another run is writing FRU %d of this BMC\n", fruId);
    return false;
  }
  if (status == PLATFORM_UNSUPPORTED) return true;
  // Without its hold a run could read the FRU half written by another, or tear it.
  if (status == PLATFORM_DEVICE_ERROR) {
    Print("%s\n", problem != nullptr ? problem : "[ERROR] No lock can be taken for this FRU");
    return false;
  }
  if (PlatformIsError(status)) {
    // A listing goes on without a journal; a write would have nothing to undo a kill with.
    if (!willWrite) return true;
    Print("%s\n", problem != nullptr ? problem : "[ERROR] The journal cannot be used");
    return false;
  }
  journal->on = true;
  return true;
}

bool SettleFruJournal(FruJournal* journal, FruDevice& device, int32_t fruId, uint8_t* image, size_t size, uint8_t* readBack,
                      FruTouched* touched) {
  if (!journal->on) return true;
  PlatformJournalEntry entry{};
  const char* problem = nullptr;
  const PlatformStatus found = PlatformJournalFind(&entry, &problem);
  if (found == PLATFORM_NOT_FOUND) return true;
  if (found == PLATFORM_ACCESS_DENIED) {
    Print("%s\n", problem != nullptr ? problem : "[ERROR] The journal entry of this FRU cannot be trusted");
    return false;
  }
  if (PlatformIsError(found)) {
    SetAside(journal, "cannot be read");  // it cannot say whose it is, nor be trusted to be written back
    return true;
  }
  KnowGuid(journal, device);
  switch (MatchJournalEntry(entry, journal->bmc, image, size)) {
    case JournalMatch::Original:
      PlatformJournalRemove();
      return true;
    case JournalMatch::New:
      // A BMC that stores later may show a killed run's whole image from its cache, not yet stored.
      if (!StoreWhatTheFruShows(device, fruId, image, entry.originalSize >= size ? entry.original : image, size,
                                readBack)) {
        Print("[ERROR] The FRU data that an interrupted run wrote could not be shown stored\n");
        return false;
      }
      PlatformJournalRemove();
      return true;
    case JournalMatch::Foreign:
      SetAside(journal, "does not match this FRU");
      return true;
    case JournalMatch::Torn:
      break;
  }
  const bool putBack = PutBackFruData(device, fruId, entry.original, image, size, readBack, touched);
  journal->restoredBytes = CountAccepted(*touched, size);
  if (!putBack) {
    Print("[ERROR] The FRU data that an interrupted run left half written could not be restored\n");
    return false;
  }
  CopyBytes(image, entry.original, size);
  journal->settled = "restored";
  PlatformJournalRemove();
  Print("Restored the FRU data that an interrupted run left half written\n");
  return true;
}

bool FruJournalHasEntry(const FruJournal* journal) {
  if (!journal->on) return false;
  PlatformJournalEntry entry{};
  const char* problem = nullptr;
  return PlatformJournalFind(&entry, &problem) != PLATFORM_NOT_FOUND;
}

bool RecordFruJournal(FruJournal* journal, FruDevice& device, const uint8_t* original, size_t originalSize, const uint8_t* newImage,
                      size_t newSize) {
  if (!journal->on) return true;
  KnowGuid(journal, device);
  const char* problem = nullptr;
  const PlatformJournalEntry entry{journal->bmc, original, originalSize, newImage, newSize};
  if (!PlatformIsError(PlatformJournalRecord(entry, &problem))) return true;
  Print("%s\n", problem != nullptr ? problem : "[ERROR] The journal entry could not be stored");
  return false;
}

void CloseFruJournal(FruJournal* journal, FruWriteOutcome outcome) {
  if (journal->on && outcome != FruWriteOutcome::Unsettled) PlatformJournalRemove();
}
