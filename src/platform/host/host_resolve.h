// One address for a BMC's host name, shared by tagforge and the station so
// that both take a name and its address (localhost, 127.0.0.1) for one BMC.
#pragma once

#include <string>

// The address the name resolves to, as text without brackets: its IPv4
// address when it has one as well as an IPv6 one; "" when it does not resolve.
std::string ResolvedAddress(const std::string& name);
