// Host-only: the BMC manufacturer IDs a run accepts, from the environment.
#pragma once

#include <string>

// Reads TAGFORGE_MANUFACTURER_ID once at start; false, with *error, when it is set but not a list of IDs.
bool HostReadManufacturerIds(std::string* error);
