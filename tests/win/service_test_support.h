// The service "kivhost" as tests see it: its state root, its status under the SCM, its
// trace, and programs run with their output in files (a service started from a program
// inherits its standard streams, and would hold a pipe open).
#pragma once

#include <windows.h>
#include <winsvc.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/home_path.h"
#include "platform/utf8.h"
#include "support/child_process.h"
#include "support/kiv_test.h"
#include "tools/kiv/win/service_handle.h"

namespace servicetest {

namespace fs = std::filesystem;

// The service's state root: the default one, as no KIV_HOME reaches a service.
inline fs::path machineStateRoot() { return fs::path(kiv::utf::widen(kiv::platform::detail::defaultHome())); }

inline std::string systemProgram(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  GetSystemDirectoryW(folder, MAX_PATH);
  return kiv::utf::narrow((fs::path(folder) / name).wstring());
}

// Runs argv with its streams in files below `dir`; its exit code, its output in *output.
inline int runToFiles(const std::vector<std::string>& argv, const std::string& dir, std::string* output = nullptr) {
  const std::string out = dir + "/run.out", err = dir + "/run.err";
  kivtest::ChildProcess child(argv, out, err);
  const int code = child.exitCode(std::chrono::minutes(5));
  if (output != nullptr) *output = kivtest::readFile(out) + kivtest::readFile(err);
  return code;
}

inline kiv::tool::UniqueServiceHandle openService(DWORD access) {
  kiv::tool::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  return kiv::tool::UniqueServiceHandle(manager ? OpenServiceW(manager.get(), L"kivhost", access) : nullptr);
}

inline SERVICE_STATUS_PROCESS serviceStatus() {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  kiv::tool::UniqueServiceHandle service = openService(SERVICE_QUERY_STATUS);
  if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                        sizeof(status), &needed)) {
    status.dwCurrentState = 0;
  }
  return status;
}

// Removes the state root the service made. A service that failed to start says STOPPED
// just before its process ends, which may still hold its trace open for a moment.
inline bool removeMachineStateRoot() {
  return kivtest::waitFor([] {
    std::error_code error;
    fs::remove_all(machineStateRoot(), error);
    return !error;
  });
}

inline std::string serviceTrace() { return kivtest::readFile((machineStateRoot() / L"log" / L"kiv.log").string()); }

// The trace line of an event the service wrote to the Event Log.
inline std::string eventLine(const std::string& fields, int code) {
  return "kiv host: event " + fields + " (Event Log entry " + std::to_string(code) + ")";
}

}  // namespace servicetest
