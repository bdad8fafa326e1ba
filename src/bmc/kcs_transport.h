// The KCS system interface as a message transport: one request framed into
// the KCS request buffer, the answer taken from the KCS response buffer.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Sends one request; true with the completion code and the data in response
// (*responseLength bytes, at most capacity), false for a failed transfer.
bool KcsTransact(uint8_t netFn, uint8_t command, const uint8_t* data, size_t dataLength, uint8_t* response,
                 size_t capacity, size_t* responseLength);
