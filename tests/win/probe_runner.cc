// Starting the version probe under a chosen version, and reading keys with "reg query".
#include "probe_runner.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace wintest {
namespace {

constexpr wchar_t kProbe[] = L"win_version_probe.exe";
constexpr wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\win_version_probe.exe";

// Wine's setting of the version it reports to one program, by its file name.
void chooseVersion(const std::wstring& version) {
  if (version.empty()) {
    RegDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
    return;
  }
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kAppDefaults, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                 static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

HANDLE start(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return nullptr;
  }
  CloseHandle(info.hThread);
  return info.hProcess;
}

std::optional<DWORD> waitForExit(HANDLE process) {
  if (process == nullptr) return std::nullopt;
  std::optional<DWORD> code;
  DWORD exitCode = 0;
  if (WaitForSingleObject(process, 120000) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process, &exitCode)) {
    code = exitCode;
  }
  CloseHandle(process);
  return code;
}

}  // namespace

std::wstring programDirectory() {
  wchar_t path[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring directory = path;
  return directory.substr(0, directory.rfind(L'\\'));
}

HANDLE startProbe(const std::wstring& version, const std::wstring& arguments,
                  const std::wstring& directory) {
  chooseVersion(version);
  return start(L"\"" + directory + L"\\" + kProbe + L"\" " + arguments);
}

std::optional<DWORD> runProbe(const std::wstring& version, const std::wstring& arguments,
                              const std::wstring& directory) {
  const std::optional<DWORD> code = waitForExit(startProbe(version, arguments, directory));
  chooseVersion(L"");
  return code;
}

std::string regQuery(const std::wstring& key) {
  wchar_t temporary[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temporary);
  const std::wstring output = std::wstring(temporary) + L"kiv-reg-query-" +
                              std::to_wstring(GetCurrentProcessId()) + L".txt";
  const auto code = waitForExit(start(L"cmd.exe /c reg query \"HKLM\\" + key + L"\" > \"" +
                                      output + L"\""));
  std::ifstream in(std::filesystem::path(output), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  in.close();
  DeleteFileW(output.c_str());
  if (!code || *code != 0) return {};
  return text.str();
}

}  // namespace wintest
