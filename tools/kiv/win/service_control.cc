// The service's control handler and the state it reports to the SCM.
#include "tools/kiv/win/service_control.h"

#include <wtsapi32.h>

#include "tools/kiv/win/session_power_events.h"

namespace kiv::tool {
namespace {

// Controls the running host takes. PRESHUTDOWN comes first where the system has it (Vista and
// later) and gives the plug-in the time its stop needs; SHUTDOWN serves older systems.
constexpr DWORD kAcceptedWhileRunning = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN |
                                        SERVICE_ACCEPT_PRESHUTDOWN | SERVICE_ACCEPT_SESSIONCHANGE |
                                        SERVICE_ACCEPT_POWEREVENT;

}  // namespace

ServiceControl::ServiceControl(StatusReporter report)
    : reporter_(std::move(report)), stopRequested_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
}

DWORD WINAPI ServiceControl::handler(DWORD control, DWORD eventType, void* eventData, void* context) {
  return static_cast<ServiceControl*>(context)->handle(control, eventType, eventData);
}

DWORD ServiceControl::handle(DWORD control, DWORD eventType, void* eventData) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN:
      requestStop();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    case SERVICE_CONTROL_SESSIONCHANGE: {
      const auto* notification = static_cast<const WTSSESSION_NOTIFICATION*>(eventData);
      if (notification == nullptr) return ERROR_INVALID_PARAMETER;
      std::lock_guard<std::mutex> guard(deliveryLock_);
      if (deliver_) deliverSessionChange(deliver_, eventType, notification->dwSessionId);
      return NO_ERROR;
    }
    case SERVICE_CONTROL_POWEREVENT: {
      std::lock_guard<std::mutex> guard(deliveryLock_);
      if (deliver_) deliverPowerChange(deliver_, eventType);
      return NO_ERROR;
    }
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void ServiceControl::setDelivery(HostEventDelivery deliver) {
  std::lock_guard<std::mutex> guard(deliveryLock_);
  deliver_ = std::move(deliver);
}

// Waits for a delivery in progress, so the host may end what it delivers to.
void ServiceControl::clearDelivery() {
  std::lock_guard<std::mutex> guard(deliveryLock_);
  deliver_ = nullptr;
}

void ServiceControl::waitForStop() const { WaitForSingleObject(stopRequested_.get(), INFINITE); }

// The stop itself happens on the service's main thread; the handler only passes the request
// on and says that the stop has begun, as the SCM expects within its 30 s.
void ServiceControl::requestStop() {
  reportStopping();
  SetEvent(stopRequested_.get());
}

void ServiceControl::reportStarting() { report(SERVICE_START_PENDING, kStartWaitHintMs); }
void ServiceControl::reportRunning() { report(SERVICE_RUNNING, 0); }
void ServiceControl::reportStopping() { report(SERVICE_STOP_PENDING, kStopWaitHintMs); }

void ServiceControl::reportStopped(DWORD serviceExitCode) {
  report(SERVICE_STOPPED, 0, serviceExitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR,
         serviceExitCode);
}

void ServiceControl::report(DWORD state, DWORD waitHint, DWORD win32ExitCode, DWORD serviceExitCode) {
  std::lock_guard<std::mutex> guard(statusLock_);
  // A stop once begun is never reported as running again (the handler may report STOP_PENDING
  // while the host is still starting up).
  if (state == SERVICE_RUNNING && status_.dwCurrentState == SERVICE_STOP_PENDING) return;
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  status_.dwCheckPoint = pending && status_.dwCurrentState == state ? status_.dwCheckPoint + 1 : 0;
  if (pending && status_.dwCheckPoint == 0) status_.dwCheckPoint = 1;
  status_.dwCurrentState = state;
  status_.dwControlsAccepted = state == SERVICE_RUNNING || state == SERVICE_START_PENDING
                                   ? kAcceptedWhileRunning
                                   : 0;
  status_.dwWaitHint = waitHint;
  status_.dwWin32ExitCode = win32ExitCode;
  status_.dwServiceSpecificExitCode = serviceExitCode;
  reporter_(status_);
}

}  // namespace kiv::tool
