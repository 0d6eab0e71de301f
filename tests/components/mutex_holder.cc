// Helper process for the mutex tests: takes the named mutex given as its argument through
// the thread-control component, says "busy" on stdout when someone else holds it, "held"
// once it has it, then waits to be killed.
#include <unistd.h>

#include <cstdio>

#include "TQOSServices.h"
#include "TQString.h"
#include "tqNotify/framework/TQptr.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  TQStringW name;
  name.assign_utf8(argv[1]);
  TQptr<TQOSThreadControl> control;
  if (!control.CreateInstance(L"tqOSServices", "TQOSThreadControl")) return 3;
  TQptr<ITQOSLock> mutex;
  if (!control->createMutex(name.c_str(), 5, mutex.fill())) return 4;
  if (mutex->tryLock(0) != 0) {
    std::fputs("busy\n", stdout);
    std::fflush(stdout);
    if (mutex->lock() != 0) return 5;
  }
  std::fputs("held\n", stdout);
  std::fflush(stdout);
  char byte;
  while (::read(STDIN_FILENO, &byte, 1) > 0) {
  }
  return 0;
}
