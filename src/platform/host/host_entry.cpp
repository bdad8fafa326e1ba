// Entry point of the host program: the process arguments go to the tool as they are.
#include <cstdio>

#include "platform/platform.h"

int main(int argc, char** argv) {
  int status = TagforgeMain(argc, argv);
  fflush(stdout);
  return status;
}
