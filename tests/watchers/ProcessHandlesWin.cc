// Handle counts through NtQueryObject's basic information, which every Windows since NT
// answers (the backend keeps the process handle in the wait handle's slot).
#include <windows.h>

#include "ProcessHandles.h"

namespace watchertest {

int processHandleCount(const kiv::platform::WaitHandle& process) {
  using Query = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  struct BasicInformation {  // class 0, ObjectBasicInformation
    ULONG attributes, grantedAccess, handleCount, pointerCount, reserved[10];
  } info{};
  constexpr int kObjectBasicInformation = 0;
  if (query == nullptr || query(LongToHandle(process.fd), kObjectBasicInformation, &info, sizeof info, nullptr) < 0) {
    return -1;
  }
  return static_cast<int>(info.handleCount);
}

}  // namespace watchertest
