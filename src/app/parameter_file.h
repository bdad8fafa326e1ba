// Field options kept in a text file on the first volume: one token per line,
// appended to the token list behind the command line.
#pragma once

#include "app/token_list.h"

enum class ParameterFileResult {
  Done,    // lines appended (possibly none)
  Failed,  // its message printed; the run ends with status 1
};

// Reads the file that the first command-line token holding "file=" names; does
// nothing when there is none.
ParameterFileResult ReadParameterFile(TokenList& tokens);
