/* Helper for the process enumerator tests: sleeps for the seconds given, so that a copy
   of it under a name nothing else uses is a process the test can find and end. Plain C
   with no library of the build, so that a copy runs from any folder. */
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif
#include <stdlib.h>

int main(int argc, char** argv) {
  int seconds = argc > 1 ? atoi(argv[1]) : 300;
#ifdef _WIN32
  Sleep((DWORD)seconds * 1000u);
#else
  while (seconds > 0) seconds = (int)sleep((unsigned)seconds);
#endif
  return 0;
}
