#include "runtime/verbose.h"

int32_t gVerbose = 0;
