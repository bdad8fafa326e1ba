// What a simulated BMC is like: its latencies, its identity and the faults it
// shows. Read from short texts so that tests and the environment
// (TAGFORGE_SIM_LATENCY, TAGFORGE_SIM_FAULTS) say the same thing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Microseconds of virtual time. A delay with a larger maximum is drawn anew
// each time, evenly from minimum to maximum, by a generator with a fixed seed:
// the same run gives the same times.
struct Latency {
  uint32_t ibfClearUs = 10;         // until the BMC takes a byte the host wrote
  uint32_t responseReadyUs = 1000;  // from the last request byte to the first response byte
  uint32_t portAccessUs = 1;        // one I/O port access
  uint32_t ibfClearMaxUs = 0;       // 0: always ibfClearUs
  uint32_t responseReadyMaxUs = 0;  // 0: always responseReadyUs
};

enum class Command { DeviceId, InventorySize, ReadFru, WriteFru, Any, DeviceGuid };

// A completion code on the Nth to Mth request of a command (1-based, inclusive).
struct CompletionFault {
  Command command;
  uint32_t first;
  uint32_t last;
  uint8_t code;
};

struct PortFault {
  bool onRead;
  uint64_t first;        // 1-based index among reads (or writes); 0 means every one
  uint64_t fromRequest;  // with first 0: only once the host has read this many whole responses
};

enum class InitialState { Idle, Write, Error, Read };

// How the BMC stores what Write FRU Data brings: at once, later (a cache, see
// store_later.h), or later and never (its stores are answered and lost).
enum class StoreMode { AtOnce, Later, Never };

struct Faults {
  bool absent = false;      // no interface: every read 0xFF
  bool ibfStuck = false;    // IBF never clears
  InitialState initialState = InitialState::Idle;
  int64_t deadAfter = -1;   // stops taking bytes once this many requests were answered
  std::vector<CompletionFault> completionCodes;
  uint32_t shortRead = 0;   // Read FRU Data answers at most this many bytes (0: no limit)
  uint32_t longRead = 0;    // Read FRU Data answers this many bytes more than asked
  uint32_t maxChunk = 0;    // larger Read/Write FRU Data requests are refused (0: no limit)
  uint32_t busyWrites = 0;  // the first N Write FRU Data requests answer 0x81
  uint32_t deviceIdBytes = 15;
  bool flood = false;       // the response never ends
  bool writeCountZero = false;  // Write FRU Data reports 0 bytes written
  bool locateFails = false; // the CPU I/O access cannot be located
  // Ranges of Write FRU Data requests (1-based, inclusive) answered as taken,
  // count byte and all, whose bytes are never stored: a BMC that loses a chunk.
  std::vector<std::pair<uint32_t, uint32_t>> dropped;
  // Ranges of Write FRU Data requests taken whole whose last byte is stored
  // inverted: the byte a chunk's end often holds is an area's checksum.
  std::vector<std::pair<uint32_t, uint32_t>> lastByteWrong;
  int signal = 0;               // delivered to the process (the run) once it has sent
  uint32_t signalAfterWrite = 0;  // this many Write FRU Data requests (0: never), or
  Command signalAfter = Command::WriteFru;  // of this command (Read FRU Data: before any write)
  std::vector<PortFault> portFaults;
  StoreMode store = StoreMode::AtOnce;
};

struct Identity {
  uint32_t manufacturerId;
  uint8_t firmwareMajor = 0x01;
  uint8_t firmwareMinor = 0x25;
  uint32_t auxiliary = 0;
  bool hasGuid = true;  // answers Get Device GUID
  uint8_t guid[16] = {0x5a, 0x1d, 0x3c, 0x70, 0x42, 0x8e, 0x4b, 0x11, 0x9a, 0x6f, 0x00, 0x16, 0x3e, 0x7a, 0x90, 0x01};
};

// Both return false and say why in *error when the text is not understood.
bool ParseLatency(const std::string& text, Latency* latency, std::string* error);
bool ParseFaults(const std::string& text, Faults* faults, Identity* identity, std::string* error);

}  // namespace sim
