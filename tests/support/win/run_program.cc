// Programs run for their output on Windows: CreateProcessW with both streams on one pipe
// and no console window of their own.
#include "support/run_program.h"

#include <windows.h>

#include "support/win/command_line.h"

namespace kivtest {

int runProgram(const std::vector<std::string>& argv, std::string* output) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return -1;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inheritable, OPEN_EXISTING, 0, nullptr);

  PROCESS_INFORMATION process{};
  const bool started = startProgram(argv, input, writeEnd, writeEnd, 0, &process);
  CloseHandle(writeEnd);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);

  std::string text;
  char buffer[4096];
  for (DWORD n = 0; ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0;) text.append(buffer, n);
  CloseHandle(readEnd);
  if (output != nullptr) *output = text;
  if (!started) return -1;
  DWORD code = 0;
  WaitForSingleObject(process.hProcess, INFINITE);
  const bool known = GetExitCodeProcess(process.hProcess, &code) != 0;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return known ? static_cast<int>(code) : -1;
}

}  // namespace kivtest
