// The verbose switch: nonzero when the operator asked for traces (-v).
#pragma once

#include <stdint.h>

extern int32_t gVerbose;
