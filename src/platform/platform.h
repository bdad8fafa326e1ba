// The one door to the machine. Everything the tool needs from the firmware
// (or, in the host build, from Linux and the simulated BMC) passes here; each
// backend (platform/uefi, platform/host) implements every operation. The
// statuses follow UEFI so that messages print the same numbers in both builds.
#pragma once

#include <stddef.h>
#include <stdint.h>

using PlatformStatus = uint64_t;

constexpr PlatformStatus PLATFORM_ERROR_BIT = 0x8000000000000000ULL;
constexpr PlatformStatus PLATFORM_SUCCESS = 0;
constexpr PlatformStatus PLATFORM_INVALID_PARAMETER = PLATFORM_ERROR_BIT | 2;
constexpr PlatformStatus PLATFORM_UNSUPPORTED = PLATFORM_ERROR_BIT | 3;
constexpr PlatformStatus PLATFORM_BUFFER_TOO_SMALL = PLATFORM_ERROR_BIT | 5;
constexpr PlatformStatus PLATFORM_DEVICE_ERROR = PLATFORM_ERROR_BIT | 7;
constexpr PlatformStatus PLATFORM_WRITE_PROTECTED = PLATFORM_ERROR_BIT | 8;
constexpr PlatformStatus PLATFORM_NOT_FOUND = PLATFORM_ERROR_BIT | 14;
constexpr PlatformStatus PLATFORM_ACCESS_DENIED = PLATFORM_ERROR_BIT | 15;
constexpr PlatformStatus PLATFORM_END_OF_FILE = PLATFORM_ERROR_BIT | 31;

constexpr bool PlatformIsError(PlatformStatus status) { return (status & PLATFORM_ERROR_BIT) != 0; }

// ---- Program entry -------------------------------------------------------
// Each backend's entry point delivers the program arguments (program name
// first, then the words of the command line as narrow strings) to the tool's
// main function and hands its result back as the exit status.
int TagforgeMain(int argc, char** argv);

// ---- Console --------------------------------------------------------------
// Narrow text to standard output, in call order.
void PlatformConsoleWrite(const char* bytes, size_t length);
// A UCS-2 string written straight to the firmware console.
void PlatformConsoleWriteWide(const char16_t* text);
// Reads one white-space-delimited word: leading blanks and line ends are
// skipped; the word ends at the next blank or line end. At most capacity - 1
// bytes are stored, followed by a zero byte; the rest of a longer word is
// read and dropped. PLATFORM_END_OF_FILE when input ends before a word.
PlatformStatus PlatformReadWord(char* buffer, size_t capacity);

// ---- Delay ----------------------------------------------------------------
// Busy delay of at least the given number of microseconds.
void PlatformStall(uint32_t microseconds);

// ---- CPU I/O port byte access ----------------------------------------------
// The BMC's I/O ports are the seam that changes at run time (real ports, the
// simulated BMC, a fault-injecting wrapper), so they come as an interface.
struct PlatformCpuIo {
  PlatformStatus (*Read8)(void* context, uint16_t port, uint8_t* value);
  PlatformStatus (*Write8)(void* context, uint16_t port, uint8_t value);
  void* context;
};
// Finds the CPU I/O access; on success *io points to it for the rest of the run.
PlatformStatus PlatformLocateCpuIo(const PlatformCpuIo** io);

// ---- A message transport to the BMC ----------------------------------------
// One IPMI request and its answer, by value. An answer holds at most this many
// data bytes after the completion code; a longer one is a failed transfer.
constexpr size_t PLATFORM_IPMI_DATA_MAX = 272;
constexpr uint8_t PLATFORM_IPMI_NO_ANSWER = 0xFF;
struct PlatformIpmiAnswer {
  // False for a failed transfer: no answer within the transport's bounded
  // wait, a cut one, or one whose network function, command (or message ID)
  // is not the request's. completionCode is PLATFORM_IPMI_NO_ANSWER then.
  bool answered;
  uint8_t completionCode;
  uint16_t length;  // data bytes after the completion code
  uint8_t data[PLATFORM_IPMI_DATA_MAX];
};
// A way to the BMC by whole messages: the KCS interface (in the core), a
// kernel driver, a network session.
struct PlatformIpmiTransport {
  PlatformIpmiAnswer (*Send)(void* context, uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength);
  void* context;
  // Read FRU Data may ask for up to this many bytes per request once the BMC
  // has shown it returns them; 0 keeps the 32-byte reads of the KCS interface.
  uint16_t readGrowthMax;
  // The transport answers a request too long for its interface with
  // completion code 0xFF (Linux's SSIF path): a chunk too big, not a dead BMC.
  bool noAnswerMeansTooLong;
};

// ---- A FRU device -------------------------------------------------------------
// What the FRU operations (list, edit, clear, verify, restore) work on: a BMC's
// FRU reached through IPMI (the core builds that one over a transport), or a
// device of the platform's own with no BMC in front (an image file, an EEPROM).
enum class PlatformFruOutcome : uint8_t {
  Done,       // count bytes (at least 1) read or written; a write's count may
              // be larger than the chunk: a BMC that stored the whole FRU it caches
  TooLong,    // the device takes fewer bytes per request: ask again with fewer
  Busy,       // try again after a longer pause
  Failed,     // try again (a bounded number of times)
  NotStored,  // written, but the device kept other bytes (a write-protect pin):
              // trying again will not help; the device has printed its line
  Held,       // count bytes taken into a cache that the device stores later
              // (a BMC that answered a count below the bytes sent)
  Refused,    // the device refused to store its FRU as it now stands (it checks
              // the whole FRU first): trying again will not help; the device
              // has printed its line
};
struct PlatformFruTransfer {
  PlatformFruOutcome outcome;
  size_t count;
};
// Why a device's size is not known, when it has a cause to name.
enum class PlatformFruSizeFailure : uint8_t {
  Said,      // the device has printed any line of its own
  NoAnswer,  // a BMC did not answer
  Refused,   // a BMC answered with completionCode
};
struct PlatformFruSize {
  bool known;  // false: failure says why
  uint16_t size;
  PlatformFruSizeFailure failure = PlatformFruSizeFailure::Said;
  uint8_t completionCode = 0;
};
struct PlatformBmcIdentity;
struct PlatformFruDevice {
  // Prints the device's identity lines ("BMC Revision = ..." for a BMC) and
  // fills what the journal matches entries by; false once it has printed why
  // the run cannot go on.
  bool (*Identify)(void* context, PlatformBmcIdentity* identity);
  // The GUID the journal tells boards apart by; a device without one leaves
  // identity->hasGuid false.
  void (*AskGuid)(void* context, PlatformBmcIdentity* identity);
  PlatformFruSize (*InventorySize)(void* context, int32_t fruId);
  PlatformFruTransfer (*Read)(void* context, int32_t fruId, size_t offset, size_t count, uint8_t* into);
  PlatformFruTransfer (*Write)(void* context, int32_t fruId, size_t offset, const uint8_t* bytes, size_t count);
  // After a write pass: what was written reaches lasting storage (a file's
  // fsync); false, with its line printed, when it cannot.
  bool (*Flush)(void* context);
  // False once the device stopped answering (a BMC given up on): another read
  // would only wait out its bounds again.
  bool (*Answering)(void* context);
  void* context;
  // Most bytes one Read may ask for once the device has shown it returns them;
  // 0 keeps 32-byte reads.
  uint16_t readGrowthMax;
};

// What this run reaches its FRU through.
enum class PlatformFruAccessKind : uint8_t {
  Ports,      // the KCS interface at the CPU I/O ports (PlatformLocateCpuIo)
  Transport,  // a BMC by whole messages: transport
  Device,     // a FRU device of the platform's own: device
};
struct PlatformFruAccess {
  PlatformFruAccessKind kind;
  const PlatformIpmiTransport* transport;
  const PlatformFruDevice* device;
  // The line that refuses an edit or a clear before anything is sent, or null
  // to go ahead; holdsFru: the FRU as read has a valid Common Header or is
  // blank (all 0x00 or all 0xFF). A file or an EEPROM that holds something
  // else (a key, a document, another chip) is never overwritten.
  const char* (*RefuseWrite)(void* context, bool holdsFru);
  void* refuseContext;
  // The same for a clear (ClearFru=1), when the device decides it otherwise
  // (an operator may name one chip to initialise though it holds no FRU);
  // null: RefuseWrite decides.
  const char* (*RefuseClear)(void* context, bool holdsFru) = nullptr;
};
// Located once at the start of the BMC's part of the run.
PlatformStatus PlatformLocateFruAccess(PlatformFruAccess* access);
// Chooses and opens the device the run reaches its FRU through, when the run
// reaches its first request: the usage, the tokens, the parameter file and the
// values never wait on a device, and none of their lines names one. An error
// once the platform has printed why (no BMC, a setting it cannot use).
PlatformStatus PlatformChooseFruDevice();

// ---- The run's report -------------------------------------------------------
// What a run did, handed to the platform as the run ends, whatever the outcome
// (a host writes it as a record; the firmware keeps nothing).
struct PlatformReportField {
  const char* keyword;
  const char* name;
  const uint8_t* bytes;
  int32_t size;
  bool text;          // readable as text (the bytes are given too)
  bool minutes;       // a manufacturing date: minutes since 1996-01-01 00:00, three bytes
};
// One thing the lint found in the FRU the run reports on.
struct PlatformLintFinding {
  const char* level;  // "error" (readers reject the FRU) or "warning"
  const char* area;   // "Common Header", "Board Info Area", ..., "FRU"
  uint32_t offset;    // the byte of the FRU where it shows
  const char* text;   // the finding's text, the field it is about named
};
// One field a verify compared, both values as a listing shows them.
struct PlatformVerifyField {
  const char* keyword;
  const char* name;
  bool ok;
  const char* found;
  const char* expected;
};
struct PlatformRunSummary {
  int32_t fruId;  // -1 when not set
  // "usage", "listing", "clear", "edit", "verify", "dry-run", "check", or
  // "refused" when the platform found no device to reach the FRU through
  const char* mode;
  const char* const* keywords;  // the fields asked for
  int keywordCount;
  const PlatformReportField* requested;  // each field asked for with the value it was to get
  int requestedCount;
  // Where fields come from: "read" (the FRU as read, nothing written), "written" (the new image,
  // verified), "restored" (the original, verified back), "read back" (read again after a write that
  // did not end verified), "unknown" (no image the run can vouch for: fields is null).
  const char* fieldsFrom;
  const PlatformReportField* fields;
  int fieldCount;
  int32_t inventorySize;  // -1 when not learnt
  uint32_t bytesWritten;  // bytes of chunks the BMC accepted, an undone torn write's included
  const char* journal;    // "restored" (a torn write undone first), "set aside", or null
  int status;
  const char* const* errorLines;
  int errorLineCount;
  // What the run's lint said: a listing's findings on the FRU as read, an
  // edit's warnings on what it wrote or the errors that refused it.
  const PlatformLintFinding* lint;
  int lintCount;
  // A verify's fields, in the order it compared them (null for other modes).
  const PlatformVerifyField* verify;
  int verifyCount;
};
void PlatformReportRun(const PlatformRunSummary& summary);
// What the run knows so far, handed over before each point where it may wait
// (the scanner, the device): a platform can then still report a run that a
// signal ends there, before its first write. status is not yet known.
void PlatformNoteRunSoFar(const PlatformRunSummary& summary);

// ---- Whose board this is ----------------------------------------------------
// The BMC of this run as named when it is not this machine's own (one reached
// over the network: this machine's SMBIOS says nothing of its board); null
// when it is this machine's.
const char* PlatformRemoteBmcName();

// ---- The BMC makers a run accepts -----------------------------------------
// The manufacturer IDs this run accepts when the platform names them (the
// host's TAGFORGE_MANUFACTURER_ID); PLATFORM_NOT_FOUND to use the build's.
PlatformStatus PlatformGetManufacturerIds(const uint32_t** ids, size_t* count);

// ---- The first volume's files ---------------------------------------------
struct PlatformFile;  // opaque, owned by the backend
PlatformStatus PlatformLocateFileSystem();
PlatformStatus PlatformOpenVolume();
// Opens the file at the UCS-2 path, relative to the volume's root, for
// reading; PLATFORM_NOT_FOUND when there is none, an error for a folder.
// *file may stay null on success.
PlatformStatus PlatformOpenFile(const char16_t* path, PlatformFile** file);
// The volume the program was loaded from, when it is another than the first
// (a tool run from a stick on a board whose own disk is the first volume);
// PLATFORM_NOT_FOUND when it is the first one, or when the platform has no
// such thing (the host). Files on it open with PlatformOpenToolFile; one file
// is open at a time across both volumes.
PlatformStatus PlatformOpenToolVolume();
PlatformStatus PlatformOpenToolFile(const char16_t* path, PlatformFile** file);
// Reads up to *size bytes from the start of the file; *size becomes the count read.
PlatformStatus PlatformReadFile(PlatformFile* file, void* buffer, size_t* size);
void PlatformCloseFile(PlatformFile* file);

// ---- SMBIOS ----------------------------------------------------------------
// The SMBIOS 2.x entry point structure; PLATFORM_NOT_FOUND when there is none.
PlatformStatus PlatformGetSmbiosEntryPoint(const uint8_t** bytes, size_t* length);
// The SMBIOS 3.x (64-bit) entry point structure, which firmware that drops
// the 2.x one still offers; PLATFORM_NOT_FOUND when there is none.
PlatformStatus PlatformGetSmbios3EntryPoint(const uint8_t** bytes, size_t* length);
// The structure table at the physical address the entry point names, for the
// given length; *available is how many of those bytes can be read (never more
// than length).
PlatformStatus PlatformGetSmbiosTable(uint64_t address, uint32_t length, const uint8_t** bytes,
                                      size_t* available);

// ---- Clock -----------------------------------------------------------------
struct PlatformTime {
  int32_t year;
  int32_t month;  // 1 to 12
  int32_t day;
  int32_t hour;
  int32_t minute;
};
PlatformStatus PlatformGetLocalTime(PlatformTime* time);

// ---- Signals around a write -----------------------------------------------
// From the first chunk of a write until the run ends, the signals by which an
// operator or a station stops a run (interrupt, terminate, hang-up) only mark
// the run as interrupted: the write stops at a chunk boundary and the FRU is
// put back, instead of the process dying between two chunks.
void PlatformHoldInterruptions();
// The name of the first signal that arrived while held ("SIGINT"), or null.
const char* PlatformInterruption();

// ---- Waits for a silent BMC ------------------------------------------------
// A transport that gives up on a BMC that stopped answering counts its bound
// from the last answer; the restore that follows a failed write gets a bound of
// its own from here.
void PlatformRestartBmcWaits();

// ---- The write journal ------------------------------------------------------
// A platform that can keep files across runs (the host) stores, before a
// write, what the FRU held and what is being written, so that a run killed in
// the middle is undone by the next run on the same BMC and FRU. The firmware
// keeps none (PLATFORM_UNSUPPORTED).
struct PlatformBmcIdentity {
  uint32_t manufacturer;
  uint16_t product;
  bool hasGuid;  // the BMC answered Get Device GUID
  uint8_t guid[16];
};
struct PlatformJournalEntry {
  PlatformBmcIdentity bmc;
  const uint8_t* original;  // the FRU as read before the write, originalSize bytes
  size_t originalSize;
  const uint8_t* newImage;  // what the write sends from offset 0, newSize bytes
  size_t newSize;
};
// Takes this run's exclusive hold on the journal entry of its BMC and fruId,
// kept until the process ends; willWrite: the run means to change the FRU.
// PLATFORM_ACCESS_DENIED: another run holds it. PLATFORM_DEVICE_ERROR: the
// hold cannot be taken (*problem says why; no run may go on).
// PLATFORM_NOT_FOUND: there is no folder for a journal, or none it may trust
// (*problem says what to do; a run that only reads may go on without one, and
// the platform has said so). PLATFORM_UNSUPPORTED: no journal on this
// platform or by choice.
PlatformStatus PlatformJournalOpen(int32_t fruId, bool willWrite, const char** problem);
// The entry an earlier run left; PLATFORM_NOT_FOUND when there is none. Its
// bytes stay valid until the run ends. PLATFORM_ACCESS_DENIED: an entry this
// run may not trust to write back and may not set aside (another user's), with
// *problem; any other error: one that cannot be read.
PlatformStatus PlatformJournalFind(PlatformJournalEntry* entry, const char** problem);
// Stores the entry durably; an error (with *problem) means nothing may be sent.
PlatformStatus PlatformJournalRecord(const PlatformJournalEntry& entry, const char** problem);
// The write is settled (verified, or the original verified back): the entry goes.
void PlatformJournalRemove();
// The entry does not belong to this FRU any more: kept under another name,
// given in *keptAs, for the record.
void PlatformJournalSetAside(const char** keptAs);
