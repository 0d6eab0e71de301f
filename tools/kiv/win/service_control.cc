// The service's control handler and the state it reports to the SCM.
#include "tools/kiv/win/service_control.h"

#include <wtsapi32.h>

#include <string>

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
      if (queue_) deliverSessionChange(queued(), eventType, notification->dwSessionId);
      return NO_ERROR;
    }
    case SERVICE_CONTROL_POWEREVENT: {
      std::lock_guard<std::mutex> guard(deliveryLock_);
      if (queue_) deliverPowerChange(queued(), eventType);
      return NO_ERROR;
    }
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// Only queued: the handler runs on the SCM's one dispatcher thread, and the plug-in's
// handling of a logon can take many seconds, so a stop behind it would wait past the SCM's
// 30 s. Called with the delivery lock held and a queue in place.
HostEventDelivery ServiceControl::queued() {
  return [queue = queue_.get()](int code, const std::wstring& s1, const std::wstring& s2) {
    queue->post(code, s1, s2);
  };
}

void ServiceControl::setDelivery(HostEventDelivery deliver) {
  auto queue = std::make_unique<DeliveryQueue>(std::move(deliver));
  {
    std::lock_guard<std::mutex> guard(deliveryLock_);
    queue_.swap(queue);
  }
  queue.reset();  // one set before ends as clearDelivery ends it
}

// The queue ends outside the lock: while it delivers what it still holds, the handler goes
// on answering the SCM (and drops the events that come now).
void ServiceControl::clearDelivery() {
  std::unique_ptr<DeliveryQueue> ending;
  {
    std::lock_guard<std::mutex> guard(deliveryLock_);
    ending.swap(queue_);
  }
  ending.reset();
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
