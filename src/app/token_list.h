// The run's tokens: the command-line arguments after the program name,
// followed by the parameter file's lines. Every keyword search runs over it
// from the front.
#pragma once

struct TokenList {
  char** items;
  int count;
  int capacity;
  // How many of the items came from the command line (the rest came from a file).
  int commandLineCount;
};

// A list in the run arena with room for capacity tokens; false when the arena is exhausted.
bool TokenListInit(TokenList& list, int capacity);
// Appends a token (the list keeps the pointer); false when the list is full.
bool TokenListAppend(TokenList& list, char* token);

// The command-line part of the list only.
inline TokenList CommandLineTokens(const TokenList& list) {
  return TokenList{list.items, list.commandLineCount, list.commandLineCount, list.commandLineCount};
}
