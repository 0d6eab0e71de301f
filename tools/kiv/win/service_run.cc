// `kiv service run`: what the Service Control Manager starts for the service "kivhost". The
// same host as `kiv host`, in the service's own process: session and power changes come
// through the control handler, the events go to the trace and the Application log, and a
// failure to start ends the service with the failure's number as its service-specific exit
// code and an Event Log entry that says why.
#include <windows.h>

#include <cstdio>
#include <string>

#include "kiv_messages.h"
#include "platform/home.h"
#include "platform/utf8.h"
#include "tools/kiv/host_run.h"
#include "tools/kiv/win/event_log.h"
#include "tools/kiv/win/service_control.h"
#include "tools/kiv/win/service_manage.h"
#include "tqUtilities.h"

namespace kiv::tool {
namespace {

// The process's exit code: the last service run's result.
int serviceResult = 0;

// Session and power changes reach the host through the control handler for as long as
// this object lives.
class ControlHandlerSource : public HostEventSource {
 public:
  ControlHandlerSource(ServiceControl& control, HostEventDelivery deliver) : control_(control) {
    control_.setDelivery(std::move(deliver));
  }
  ~ControlHandlerSource() override { control_.clearDelivery(); }
  std::string name() const override { return "service control handler"; }

 private:
  ServiceControl& control_;
};

// The state root must exist and take new files: the units, the bus's locks and the trace
// all live below it. Empty when it does, else why not.
std::string stateRootProblem() {
  std::string error;
  const std::string home = platform::kivHome(&error);
  if (home.empty()) return "the state root cannot be made: " + error;
  const std::wstring folder = utf::widen(home);
  wchar_t probe[MAX_PATH] = {};
  if (GetTempFileNameW(folder.c_str(), L"kiv", 0, probe) == 0) {
    return "the state root " + home + " takes no new files (error " + std::to_string(GetLastError()) + ")";
  }
  DeleteFileW(probe);
  return {};
}

int runServiceHost(ServiceControl& control) {
  EventLog log;
  HostRole role;
  role.printEvents = false;  // a service has no console; each event is traced instead
  role.onEvent = [&log](int code, const TQStringW& s1, const TQStringW& s2, const TQStringW& s3) {
    const auto id = static_cast<DWORD>(code);
    if (log.report(EVENTLOG_INFORMATION_TYPE, id, s1.c_str(), s2.c_str(), s3.c_str())) {
      return " (Event Log entry " + std::to_string(id) + ")";
    }
    return " (not in the Event Log: error " + std::to_string(GetLastError()) + ")";
  };
  role.startSources = [&control](HostEventDelivery deliver, std::string* description) {
    std::vector<std::unique_ptr<HostEventSource>> sources;
    sources.push_back(std::make_unique<ControlHandlerSource>(control, std::move(deliver)));
    *description = "session and power sources: " + sources.front()->name();
    return sources;
  };
  role.waitForStop = [&control] { control.waitForStop(); };
  role.ready = [&control, &log](const std::string& sources) {
    control.reportRunning();
    log.report(EVENTLOG_INFORMATION_TYPE, KIV_MSG_HOST_STARTED, utf::widen(sources));
  };
  role.stopping = [&control] { control.reportStopping(); };
  role.failed = [&log](HostFailure failure, const std::string& why) {
    const int number = static_cast<int>(failure);
    TQUtilities_TraceErrorW(L"kiv", L"kiv service: cannot run (exit code %d): %hs", number, why.c_str());
    log.report(EVENTLOG_ERROR_TYPE, KIV_MSG_HOST_FAILED, utf::widen(why), std::to_wstring(number));
  };

  if (const std::string problem = stateRootProblem(); !problem.empty()) {
    role.failed(HostFailure::kStateRoot, problem);
    return static_cast<int>(HostFailure::kStateRoot);
  }
  const int result = runHost(role);
  if (result == 0) log.report(EVENTLOG_INFORMATION_TYPE, KIV_MSG_HOST_STOPPED, L"");
  return result;
}

void WINAPI serviceMain(DWORD, wchar_t**) {
  SERVICE_STATUS_HANDLE handle = nullptr;
  ServiceControl control([&handle](const SERVICE_STATUS& status) {
    SERVICE_STATUS copy = status;
    if (handle != nullptr) SetServiceStatus(handle, &copy);
  });
  handle = RegisterServiceCtrlHandlerExW(kServiceName, &ServiceControl::handler, &control);
  if (handle == nullptr) {
    serviceResult = 1;
    return;
  }
  control.reportStarting();
  serviceResult = runServiceHost(control);
  control.reportStopped(static_cast<DWORD>(serviceResult));
}

}  // namespace

int runService() {
  wchar_t name[] = L"kivhost";
  SERVICE_TABLE_ENTRYW table[] = {{name, &serviceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    const DWORD error = GetLastError();
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
      std::fprintf(stderr, "kiv service run: only the Service Control Manager starts this; "
                           "use \"kiv service start\" or \"kiv host\"\n");
    } else {
      std::fprintf(stderr, "kiv service run: the service dispatcher failed (error %lu)\n", error);
    }
    return 1;
  }
  return serviceResult;
}

}  // namespace kiv::tool
