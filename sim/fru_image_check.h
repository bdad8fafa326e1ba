// What a BMC that stores its FRU later reads in the FRU it caches: where the
// last area ends (a write reaching that point is stored at once) and whether
// the whole image parses as IPMI FRU data (it stores nothing else). Written
// apart from the tool's own FRU code, as another firmware's would be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// The end of the last area: its start (the largest offset in the Common
// Header, x 8) plus its length byte x 8, or, when the MultiRecord offset is
// not 0, the end of the record with the end-of-list bit, walking from that
// start. 0 for a header that does not parse; the image's size for records
// that run off its end.
size_t LastAreaEnd(const std::vector<uint8_t>& image);

// A valid Common Header, and every area inside the image with its checksum,
// its end-of-fields marker (info areas) or its end-of-list record
// (MultiRecord, with sound record and header checksums).
bool ParsesAsFru(const std::vector<uint8_t>& image);

}  // namespace sim
