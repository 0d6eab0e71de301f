// Hidden processes started with CreateProcessW and watched through their process handles.
// The command line goes to the system as it is, program and arguments alike.
#include "platform/process.h"

#include "platform/win/unique_handle.h"

#include <string>

namespace kiv::platform {

std::unique_ptr<Process> Process::startHidden(std::wstring_view commandLine) {
  if (commandLine.empty() || commandLine.find(L'\0') != std::wstring_view::npos) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  std::wstring writable(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &info)) {
    return nullptr;
  }
  win::UniqueHandle process(info.hProcess);
  CloseHandle(info.hThread);
  const int slot = win::toWaitSlot(process.get());
  if (slot < 0) {
    // Cannot happen for a handle the system just made; never hand out an unwatchable one.
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  process.release();
  return std::unique_ptr<Process>(new Process(static_cast<int>(info.dwProcessId), slot, true));
}

std::unique_ptr<Process> Process::open(int pid) {
  if (pid <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  win::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
  const int slot = win::toWaitSlot(process.get());
  if (slot < 0) return nullptr;
  process.release();
  return std::unique_ptr<Process>(new Process(pid, slot, false));
}

// A process still running keeps running; only the handle on it is given up.
Process::~Process() {
  if (pidfd_ >= 0) CloseHandle(win::fromWaitSlot(pidfd_));
}

uint32_t Process::wait(uint32_t timeoutMs) {
  const uint32_t result = waitOne(handle(), timeoutMs);
  DWORD code = 0;
  if (result == kWaitObject0 && child_ && GetExitCodeProcess(win::fromWaitSlot(pidfd_), &code)) {
    exitCode_ = static_cast<int>(code);
  }
  return result;
}

}  // namespace kiv::platform
