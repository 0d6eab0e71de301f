// Helper process for the mutex tests: takes the named mutex given as its argument through
// the thread-control component, printing its pid, then "busy" when someone else holds the
// mutex, then "held" once it has it; then it waits to be killed.
#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <thread>

#include "TQOSServices.h"
#include "TQString.h"
#include "tqNotify/framework/TQptr.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::printf("%d\n", static_cast<int>(getpid()));
  std::fflush(stdout);
  TQStringW name;
  name.assign_utf8(argv[1]);
  TQptr<TQOSThreadControl> control;
  if (!control.CreateInstance(L"tqOSServices", "TQOSThreadControl")) return 3;
  TQptr<ITQOSLock> mutex;
  if (!control->createMutex(name.c_str(), 5, mutex.fill())) return 4;
  // An abandoned mutex is held all the same.
  if (!lockObtained(mutex->tryLock(0))) {
    std::puts("busy");
    std::fflush(stdout);
    if (!lockObtained(mutex->lock())) return 5;
  }
  std::puts("held");
  std::fflush(stdout);
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
