#include "app/token_list.h"

#include "runtime/arena.h"

bool TokenListInit(TokenList& list, int capacity) {
  list.items = static_cast<char**>(ArenaAlloc(sizeof(char*) * static_cast<unsigned>(capacity)));
  list.count = 0;
  list.capacity = list.items == nullptr ? 0 : capacity;
  list.commandLineCount = 0;
  return list.items != nullptr;
}

bool TokenListAppend(TokenList& list, char* token) {
  if (list.count >= list.capacity) return false;
  list.items[list.count++] = token;
  return true;
}
