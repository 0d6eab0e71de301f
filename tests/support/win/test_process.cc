// Test processes on Windows: temporary homes in the user's temporary folder, commands
// through cmd.exe.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/utf8.h"
#include "support/kiv_test.h"
#include "support/test_process.h"

namespace kivtest {

void prepareTestProcess() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}

std::string makeTemporaryDirectory(std::string* error) {
  wchar_t folder[MAX_PATH + 1] = {};
  if (GetTempPathW(MAX_PATH + 1, folder) == 0) {
    *error = "no temporary folder (error " + std::to_string(GetLastError()) + ")";
    return "";
  }
  // The process id and a counter make the name unique; a name taken by a directory left
  // behind by an earlier process is skipped.
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    const std::wstring path = std::wstring(folder) + L"kiv-test-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(attempt);
    if (CreateDirectoryW(path.c_str(), nullptr)) return kiv::utf::narrow(path);
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  *error = "cannot create a directory in the temporary folder (error " +
           std::to_string(GetLastError()) + ")";
  return "";
}

void setEnvironment(const char* name, const char* value, bool overwrite) {
  if (!overwrite && std::getenv(name) != nullptr) return;
  _putenv_s(name, value);
}

// An empty value removes the variable, from the environment that children inherit too.
void unsetEnvironment(const char* name) { _putenv_s(name, ""); }

std::string ownProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return kiv::utf::narrow(path);
    }
    path.resize(path.size() * 2);
  }
}

void killProcess(int pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return;
  TerminateProcess(process, 1);
  CloseHandle(process);
}

bool underWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

int run(const std::string& command, std::string* output) {
  FILE* pipe = _wpopen(kiv::utf::widen(command).c_str(), L"rb");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  std::string text;
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  const int status = _pclose(pipe);
  if (output != nullptr) *output = text;
  return status;
}

}  // namespace kivtest
