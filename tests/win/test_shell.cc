// A stand-in for a user's shell: a process with an image name of its own that runs until
// it is ended.
#include <windows.h>

int main() {
  Sleep(INFINITE);
  return 0;
}
