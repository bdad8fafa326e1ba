// The BMC's network address as TAGFORGE_BMC=lan:... gives it, read into one
// stable name: the same BMC named two ways (with and without port 623, an
// IPv6 address written out or shortened) gives the same text, which is what
// messages and run reports show.
#pragma once

#include <string>

// HOST, HOST:PORT, [IPV6] or [IPV6]:PORT into *host (":PORT" only when not
// 623, an IPv6 address in brackets in its shortest form); false with the one
// line to print in *error.
bool ReadLanAddress(const std::string& address, std::string* host, std::string* error);
