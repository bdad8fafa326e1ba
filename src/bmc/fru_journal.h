// The write journal as the FRU operations see it: a run holds its entry from
// before its first request to its end, records what it is about to write
// before the first chunk, and settles an entry that a killed run left behind.
// Where and how entries are kept is the platform's.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "bmc/fru_storage.h"
#include "bmc/fru_update.h"
#include "platform/platform.h"

struct FruJournal {
  bool on;         // the platform keeps entries for this run
  bool guidAsked;  // Get Device GUID was sent (once a run)
  PlatformBmcIdentity bmc;
  // What this run did with an entry it found, for its record: "restored",
  // "set aside", or null; and the bytes the BMC took while undoing a torn write.
  const char* settled;
  size_t restoredBytes;
};

// What the FRU holds against an entry: its original, its new image, a mix of
// the two that only a torn write leaves, or something else (another board at
// the same address, a FRU changed since, another BMC).
enum class JournalMatch { Original, New, Torn, Foreign };
JournalMatch MatchJournalEntry(const PlatformJournalEntry& entry, const PlatformBmcIdentity& bmc,
                               const uint8_t* image, size_t size);

// Before the run's first request. False, with its line printed, when another
// run holds the entry, when the hold cannot be taken, or when a run that will
// write has no journal folder it may use.
bool OpenFruJournal(FruJournal* journal, int32_t fruId, bool willWrite);

// Right after the FRU was read into image: an entry of an interrupted run is
// removed when the FRU holds either image of it; a torn write is undone (image
// then holds the original) and said so; an entry about something else is set
// aside and the FRU left alone. False, with its line printed, when the undo
// failed (the entry stays for the next run), or when the entry is another
// user's (nothing is written).
bool SettleFruJournal(FruJournal* journal, FruDevice& device, int32_t fruId, uint8_t* image, size_t size, uint8_t* readBack,
                      FruTouched* touched);

// Right after the FRU was read, for a run that never writes: whether an
// interrupted run left an entry (or one that cannot be read) for this FRU.
// The entry is left as it is, for a run that may repair the FRU.
bool FruJournalHasEntry(const FruJournal* journal);

// Before the first chunk of a write; false, with its line printed, when the
// entry cannot be stored (nothing may be sent then).
bool RecordFruJournal(FruJournal* journal, FruDevice& device, const uint8_t* original, size_t originalSize, const uint8_t* newImage,
                      size_t newSize);

// After the write: the entry goes once the FRU is known to hold one whole image.
void CloseFruJournal(FruJournal* journal, FruWriteOutcome outcome);
