// Installing, removing, starting, stopping and querying the service through the SCM.
#include "tools/kiv/win/service_manage.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/utf8.h"
#include "tools/kiv/win/event_log.h"
#include "tools/kiv/win/service_control.h"
#include "tools/kiv/win/service_handle.h"

namespace kiv::tool {
namespace {

// How long start and stop wait for the service to settle: more than its own wait hints.
constexpr auto kSettleTimeout = std::chrono::milliseconds(kStopWaitHintMs + kStartWaitHintMs);

int failWith(const char* what, DWORD error) {
  std::fprintf(stderr, "kiv service: %s (error %lu%s)\n", what, error,
               error == ERROR_ACCESS_DENIED ? ": run it as an administrator" : "");
  return 1;
}

std::wstring ownPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

UniqueServiceHandle openManager(DWORD access) {
  return UniqueServiceHandle(OpenSCManagerW(nullptr, nullptr, access));
}

// The service kivhost with `access`; null after saying why not.
UniqueServiceHandle openKivService(DWORD access) {
  UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT);
  if (!manager) {
    failWith("cannot open the Service Control Manager", GetLastError());
    return {};
  }
  UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, access));
  if (!service) failWith("cannot open the service kivhost", GetLastError());
  return service;
}

// Sets one setting of the service. A setting the system does not know (ERROR_INVALID_LEVEL:
// those of Windows Vista and later on older systems, and under Wine) is left as it is, with
// a note; any other failure is an error.
DWORD setConfig(SC_HANDLE service, DWORD level, void* value, const char* what) {
  if (ChangeServiceConfig2W(service, level, value)) return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  if (error != ERROR_INVALID_LEVEL) return error;
  std::fprintf(stderr, "kiv service: this system has no %s setting for services; left as it is\n", what);
  return ERROR_SUCCESS;
}

// Recovery: restart 5 s after each of the first two failures, then leave it stopped; a
// day without failure starts the count again. A start that ends with an exit code counts
// as a failure too, so a state root that is not there yet at boot is tried again.
DWORD setRecovery(SC_HANDLE service) {
  SC_ACTION actions[] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_NONE, 0}};
  SERVICE_FAILURE_ACTIONSW failure{};
  failure.dwResetPeriod = 24 * 60 * 60;
  failure.cActions = 3;
  failure.lpsaActions = actions;
  if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) return GetLastError();
  SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
  return setConfig(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag, "failure-actions flag");
}

// The host runs as LocalSystem. Its service SID is unrestricted: the host writes the
// machine's registry (the logon registration) and its state root, which a restricted token
// could write only where the service SID is named. Of the privileges it keeps only bypass
// traverse checking and the creation of global objects (the units lock "Global\UNITSDB").
DWORD setHardening(SC_HANDLE service) {
  SERVICE_SID_INFO sid{SERVICE_SID_TYPE_UNRESTRICTED};
  if (const DWORD error = setConfig(service, SERVICE_CONFIG_SERVICE_SID_INFO, &sid, "service SID");
      error != ERROR_SUCCESS) {
    return error;
  }
  wchar_t privileges[] = L"SeChangeNotifyPrivilege\0SeCreateGlobalPrivilege\0";
  SERVICE_REQUIRED_PRIVILEGES_INFOW required{privileges};
  return setConfig(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required, "required-privileges");
}

DWORD setDescription(SC_HANDLE service) {
  wchar_t text[] = L"Runs the KIV plug-in tqNotify: the agent's units database and its session, "
                   L"power, docking and address events.";
  SERVICE_DESCRIPTIONW description{text};
  return ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description) ? ERROR_SUCCESS
                                                                                  : GetLastError();
}

// What both `kiv service install` and the installer set on the service; ERROR_SUCCESS or
// the error of the step named in *step.
DWORD configure(SC_HANDLE service, const char** step) {
  *step = "the description";
  DWORD error = setDescription(service);
  if (error == ERROR_SUCCESS) *step = "the recovery actions", error = setRecovery(service);
  if (error == ERROR_SUCCESS) *step = "the service SID and privileges", error = setHardening(service);
  return error;
}

// Polls until the service leaves `pending`; its last status.
SERVICE_STATUS_PROCESS settle(SC_HANDLE service, DWORD pending) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  const auto deadline = std::chrono::steady_clock::now() + kSettleTimeout;
  while (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof(status), &needed) &&
         status.dwCurrentState == pending && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return status;
}

const char* stateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    default: return "PENDING";
  }
}

// "exit code 3" for a service-specific code, "error N" for a Win32 one, empty for none.
std::string exitText(const SERVICE_STATUS_PROCESS& status) {
  if (status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR) {
    return "exit code " + std::to_string(status.dwServiceSpecificExitCode);
  }
  if (status.dwWin32ExitCode != NO_ERROR) return "error " + std::to_string(status.dwWin32ExitCode);
  return {};
}

// Stops the service and waits for its process to end too: it says STOPPED just before it
// exits, and whoever removes its files or its state next must not find it still there.
int stopIfRunning(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS running{};
  DWORD needed = 0;
  platform::win::UniqueHandle process;
  if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&running),
                           sizeof(running), &needed) && running.dwProcessId != 0) {
    process.reset(OpenProcess(SYNCHRONIZE, FALSE, running.dwProcessId));
  }
  SERVICE_STATUS status{};
  if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    const DWORD error = GetLastError();
    return error == ERROR_SERVICE_NOT_ACTIVE ? 0 : failWith("the service does not stop", error);
  }
  const SERVICE_STATUS_PROCESS settled = settle(service, SERVICE_STOP_PENDING);
  if (settled.dwCurrentState != SERVICE_STOPPED ||
      (process && WaitForSingleObject(process.get(), kStopWaitHintMs) != WAIT_OBJECT_0)) {
    std::fprintf(stderr, "kiv service: the service did not stop in time\n");
    return 1;
  }
  return 0;
}

}  // namespace

int installService(ServiceStart start) {
  UniqueServiceHandle manager = openManager(SC_MANAGER_CREATE_SERVICE);
  if (!manager) return failWith("cannot open the Service Control Manager", GetLastError());
  const std::wstring program = ownPath();
  const std::wstring commandLine = L"\"" + program + L"\" service run";
  UniqueServiceHandle service(CreateServiceW(
      manager.get(), kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
      start == ServiceStart::kAuto ? SERVICE_AUTO_START : SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
      commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_EXISTS) {
      std::fprintf(stderr, "kiv service: the service kivhost is installed already\n");
      return 1;
    }
    return failWith("cannot create the service kivhost", error);
  }
  // Half a service is worse than none: what cannot be set takes the service away again.
  const char* step = nullptr;
  DWORD error = configure(service.get(), &step);
  if (error == ERROR_SUCCESS) step = "the Event Log source", error = registerEventSource(program);
  if (error != ERROR_SUCCESS) {
    DeleteService(service.get());
    return failWith((std::string("cannot set ") + step + " of the service").c_str(), error);
  }
  std::printf("kiv service: installed kivhost (%s start): %s\n",
              start == ServiceStart::kAuto ? "automatic" : "on demand",
              utf::narrow(commandLine).c_str());
  return 0;
}

int configureService() {
  UniqueServiceHandle service = openKivService(SERVICE_CHANGE_CONFIG | SERVICE_START);
  if (!service) return 1;
  const char* step = nullptr;
  if (const DWORD error = configure(service.get(), &step); error != ERROR_SUCCESS) {
    return failWith((std::string("cannot set ") + step + " of the service").c_str(), error);
  }
  return 0;
}

int uninstallService() {
  UniqueServiceHandle service = openKivService(DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (!service) return 1;
  if (int stopped = stopIfRunning(service.get()); stopped != 0) return stopped;
  // Once the plug-in has stopped, nothing may point at files that go with the service. Left
  // behind they do no harm until those files go, so the service is removed all the same.
  if (unregisterNotifications("kiv service uninstall") != 0) {
    std::fprintf(stderr, "kiv service uninstall: warning: the logon notification entries may be left; "
                         "\"kiv registry unregister\" removes them\n");
  }
  if (!DeleteService(service.get())) return failWith("cannot delete the service kivhost", GetLastError());
  if (const DWORD error = unregisterEventSource(); error != ERROR_SUCCESS) {
    return failWith("cannot remove the Event Log source KIV", error);
  }
  std::printf("kiv service: removed kivhost; the state in the state root is kept\n");
  return 0;
}

int startService() {
  UniqueServiceHandle service = openKivService(SERVICE_START | SERVICE_QUERY_STATUS);
  if (!service) return 1;
  if (!StartServiceW(service.get(), 0, nullptr)) {
    const DWORD error = GetLastError();
    if (error != ERROR_SERVICE_ALREADY_RUNNING) return failWith("cannot start the service kivhost", error);
  }
  const SERVICE_STATUS_PROCESS status = settle(service.get(), SERVICE_START_PENDING);
  if (status.dwCurrentState != SERVICE_RUNNING) {
    std::fprintf(stderr, "kiv service: kivhost did not start: %s %s (the Event Log says why)\n",
                 stateName(status.dwCurrentState), exitText(status).c_str());
    return 1;
  }
  return 0;
}

int stopService() {
  UniqueServiceHandle service = openKivService(SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (!service) return 1;
  return stopIfRunning(service.get());
}

int serviceStatus() {
  UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT);
  if (!manager) return failWith("cannot open the Service Control Manager", GetLastError());
  UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS));
  if (!service) {
    const DWORD error = GetLastError();
    if (error != ERROR_SERVICE_DOES_NOT_EXIST) return failWith("cannot open the service kivhost", error);
    std::printf("kivhost: not installed\n");
    return 4;
  }
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                            sizeof(status), &needed)) {
    return failWith("cannot query the service kivhost", GetLastError());
  }
  std::string line = std::string("kivhost: ") + stateName(status.dwCurrentState);
  if (status.dwProcessId != 0) line += " (process " + std::to_string(status.dwProcessId) + ")";
  if (const std::string exit = exitText(status); !exit.empty()) line += " (" + exit + ")";
  std::printf("%s\n", line.c_str());
  return status.dwCurrentState == SERVICE_RUNNING ? 0 : 3;
}

}  // namespace kiv::tool
