// Children on Windows: CreateProcessW in a process group of their own, on the test's
// console, so that a console control event can be sent to them alone.
#include "support/child_process.h"

#include <windows.h>

#include "support/kiv_test.h"
#include "support/win/command_line.h"

namespace kivtest {
namespace {

HANDLE handleOf(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// Control events travel only between processes on one console. A test run by ctest under
// Wine has none it can use (Wine even refuses AllocConsole until FreeConsole is called), so
// a test without a console of its own makes one.
void ensureConsole() {
  static const bool ready = [] {
    HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    const bool usable = output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode);
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    if (usable) return true;
    FreeConsole();
    return AllocConsole() != 0;
  }();
  (void)ready;
}

HANDLE openInheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  return CreateFileW(widenArgument(path).c_str(), access,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

OutputPipe::OutputPipe() {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  readEnd_ = reinterpret_cast<intptr_t>(readEnd);
  writeEnd_ = reinterpret_cast<intptr_t>(writeEnd);
}

bool OutputPipe::readByte(char* byte) {
  DWORD n = 0;
  return readEnd_ != -1 && ReadFile(handleOf(readEnd_), byte, 1, &n, nullptr) && n == 1;
}

void OutputPipe::closeWriteEnd() {
  if (writeEnd_ != -1) CloseHandle(handleOf(writeEnd_));
  writeEnd_ = -1;
}

void OutputPipe::closeReadEnd() {
  if (readEnd_ != -1) CloseHandle(handleOf(readEnd_));
  readEnd_ = -1;
}

struct ChildProcess::State {
  PROCESS_INFORMATION process{};
  bool exited = false;
};

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outPath,
                           const std::string& errPath, OutputPipe* stdoutPipe)
    : state_(std::make_unique<State>()) {
  ensureConsole();
  HANDLE input = openInheritable("NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE output = stdoutPipe != nullptr ? handleOf(stdoutPipe->writeEnd_)
                                        : openInheritable(outPath, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE error = openInheritable(errPath, GENERIC_WRITE, CREATE_ALWAYS);

  if (!startProgram(argv, input, output, error, CREATE_NEW_PROCESS_GROUP, &state_->process)) {
    state_->process = PROCESS_INFORMATION{};
  }
  for (HANDLE own : {input, error, stdoutPipe != nullptr ? INVALID_HANDLE_VALUE : output}) {
    if (own != INVALID_HANDLE_VALUE) CloseHandle(own);
  }
}

ChildProcess::~ChildProcess() {
  if (!started()) return;
  if (!state_->exited) {
    TerminateProcess(state_->process.hProcess, 1);
    WaitForSingleObject(state_->process.hProcess, INFINITE);
  }
  CloseHandle(state_->process.hThread);
  CloseHandle(state_->process.hProcess);
}

bool ChildProcess::started() const { return state_->process.hProcess != nullptr; }
int ChildProcess::pid() const { return static_cast<int>(state_->process.dwProcessId); }

void ChildProcess::requestStop() { GenerateConsoleCtrlEvent(CTRL_C_EVENT, state_->process.dwProcessId); }

int ChildProcess::exitCode(std::chrono::milliseconds timeout) {
  if (!started()) return -1;
  if (WaitForSingleObject(state_->process.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return -1;
  }
  state_->exited = true;
  DWORD code = 0;
  return GetExitCodeProcess(state_->process.hProcess, &code) ? static_cast<int>(code) : -1;
}

}  // namespace kivtest
