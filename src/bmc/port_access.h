// Single bytes to and from the BMC's KCS ports through the platform's CPU I/O
// access. Failures are printed here; the only sign a caller sees is 0xFF from
// a read that could not be made.
#pragma once

#include <stdint.h>

constexpr uint16_t KCS_DATA_PORT = 0xCA2;
constexpr uint16_t KCS_STATUS_PORT = 0xCA3;  // read: status register; written: command register

void PortRead8(uint16_t port, uint8_t* value);
void PortWrite8(uint16_t port, uint8_t value);

// Forgets the located CPU I/O access (a new run in the same process).
void ResetPortAccess();
