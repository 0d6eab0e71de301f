// Hidden processes started with CreateProcessW and watched through their process handles.
// The command line goes to the system as it is, program and arguments alike.
#include "platform/process.h"

#include "platform/win/output_pipes.h"
#include "platform/win/unique_handle.h"

#include <string>

namespace kiv::platform {
namespace {

// Starts the command line hidden; with `pipes`, its output goes to them and it runs in
// their job from its first instruction on, so nothing it starts escapes the job.
win::UniqueHandle create(std::wstring_view commandLine, OutputPipes* pipes, DWORD* processId) {
  if (commandLine.empty() || commandLine.find(L'\0') != std::wstring_view::npos) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return {};
  }
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  std::wstring writable(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  win::UniqueHandle input;
  if (pipes != nullptr) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    input.reset(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0,
                            nullptr));
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = pipes->streams[0].write.get();
    startup.hStdError = pipes->streams[1].write.get();
  }
  const DWORD flags = CREATE_NO_WINDOW | (pipes != nullptr ? CREATE_SUSPENDED : 0);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, pipes != nullptr, flags, nullptr, nullptr, &startup,
                      &info)) {
    return {};
  }
  win::UniqueHandle process(info.hProcess);
  win::UniqueHandle thread(info.hThread);
  if (pipes != nullptr) {
    if (!AssignProcessToJobObject(pipes->job.get(), process.get())) {
      const DWORD error = GetLastError();
      TerminateProcess(process.get(), 1);
      SetLastError(error);
      return {};
    }
    ResumeThread(thread.get());
    pipes->closeChildEnds();
  }
  *processId = info.dwProcessId;
  return process;
}

}  // namespace

Process::Process(int pid, int pidfd, bool child, std::unique_ptr<OutputPipes> pipes)
    : pid_(pid), pidfd_(pidfd), child_(child), pipes_(std::move(pipes)) {}

std::unique_ptr<Process> Process::startHidden(std::wstring_view commandLine) {
  DWORD id = 0;
  win::UniqueHandle process = create(commandLine, nullptr, &id);
  const int slot = win::toWaitSlot(process.get());
  if (slot < 0) return nullptr;
  process.release();
  return std::unique_ptr<Process>(new Process(static_cast<int>(id), slot, true));
}

std::unique_ptr<Process> Process::startReading(std::wstring_view commandLine) {
  auto pipes = OutputPipes::open();
  if (!pipes) return nullptr;
  DWORD id = 0;
  win::UniqueHandle process = create(commandLine, pipes.get(), &id);
  const int slot = win::toWaitSlot(process.get());
  if (slot < 0) return nullptr;
  process.release();
  return std::unique_ptr<Process>(new Process(static_cast<int>(id), slot, true, std::move(pipes)));
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

void Process::noteEnd() {
  DWORD code = 0;
  if (child_ && GetExitCodeProcess(win::fromWaitSlot(pidfd_), &code)) exitCode_ = static_cast<int>(code);
}

uint32_t Process::wait(uint32_t timeoutMs) {
  const uint32_t result = waitOne(handle(), timeoutMs);
  if (result == kWaitObject0) noteEnd();
  return result;
}

uint32_t Process::waitReading(uint32_t timeoutMs, const OutputReceiver& receiver) {
  if (!pipes_) return wait(timeoutMs);
  const uint32_t result = pipes_->readUntilEnd(win::fromWaitSlot(pidfd_), timeoutMs, receiver);
  if (result == kWaitObject0) noteEnd();
  return result;
}

bool Process::endTree(uint32_t exitCode) {
  return pipes_ && TerminateJobObject(pipes_->job.get(), exitCode) != 0;
}

}  // namespace kiv::platform
