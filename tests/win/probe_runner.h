// Runs the version probe beside the test program, under a Windows version chosen through
// Wine's per-program setting, and the system's own "reg" tool.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace wintest {

// The agent's own key below HKEY_LOCAL_MACHINE, where its Winlogon marker lives.
inline constexpr wchar_t kAgentKey[] = L"SOFTWARE\\Veltrana\\Orvex DLOX\\Agent";

// The directory of the running test program, which the probe and the modules share.
std::wstring programDirectory();

// Starts the probe with `arguments`, Wine reporting `version` ("win2k", "winxp", ...) to
// it, or the prefix's own version for an empty text. The process handle, or null. The probe
// is the one beside the test program unless a copy in `directory` is named.
HANDLE startProbe(const std::wstring& version, const std::wstring& arguments,
                  const std::wstring& directory = programDirectory());

// Runs the probe to its end; its exit code, or nothing when it did not start or end.
std::optional<DWORD> runProbe(const std::wstring& version, const std::wstring& arguments,
                              const std::wstring& directory = programDirectory());

// What "reg query KEY" prints for a key below HKEY_LOCAL_MACHINE; empty when it fails.
std::string regQuery(const std::wstring& key);

}  // namespace wintest
