// Test helper: takes a named mutex, says "locked" on stdout and then holds it until killed.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/named_mutex.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string name(argv[1]);
  auto mutex = kiv::platform::NamedMutex::open(std::wstring(name.begin(), name.end()));
  if (!mutex || !mutex->lock()) return 1;
  std::puts("locked");
  std::fflush(stdout);
  while (true) pause();
}
