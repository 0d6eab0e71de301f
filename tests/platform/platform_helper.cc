// Test helper run as a separate process.
//   lock NAME               takes the named mutex, prints "locked", holds it until killed
//   try NAME                exit 0 when the named mutex could be taken at once, 1 when not
//   registry PREFIX COUNT   writes COUNT values below SOFTWARE\Multi\PREFIX; exit 0 on success
//   main-thread-exits       ends its main thread while another thread runs on until killed
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/named_mutex.h"
#include "platform/registry.h"

namespace {

std::wstring wide(const char* text) {
  const std::string narrow(text);
  return std::wstring(narrow.begin(), narrow.end());
}

int holdLock(const char* name) {
  auto mutex = kiv::platform::NamedMutex::open(wide(name));
  if (!mutex || !mutex->lock()) return 1;
  std::puts("locked");
  std::fflush(stdout);
  while (true) pause();
}

int tryLock(const char* name) {
  auto mutex = kiv::platform::NamedMutex::open(wide(name));
  if (!mutex) return 2;
  if (!mutex->lock(0)) return 1;
  mutex->unlock();
  return 0;
}

int writeRegistry(const char* prefix, int count) {
  using namespace kiv::platform;
  HKEY key = nullptr;
  const std::wstring path = L"SOFTWARE\\Multi\\" + wide(prefix);
  if (RegCreateKeyW(kHKeyLocalMachine, path.c_str(), &key) != kErrorSuccess) return 1;
  int failures = 0;
  for (uint32_t i = 0; i < static_cast<uint32_t>(count); ++i) {
    failures += RegSetValueExW(key, std::to_wstring(i).c_str(), kRegDword, &i, 4) != kErrorSuccess;
  }
  RegCloseKey(key);
  return failures == 0 ? 0 : 1;
}

// /proc then shows the main thread as a zombie although the process still runs.
int endMainThread() {
  std::thread([] {
    while (true) pause();
  }).detach();
  pthread_exit(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "lock" && argc == 3) return holdLock(argv[2]);
  if (mode == "try" && argc == 3) return tryLock(argv[2]);
  if (mode == "registry" && argc == 4) return writeRegistry(argv[2], std::atoi(argv[3]));
  if (mode == "main-thread-exits") return endMainThread();
  return 2;
}
