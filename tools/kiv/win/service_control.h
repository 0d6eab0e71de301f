// The service's control handler: the Service Control Manager calls it on its one control
// dispatcher thread. It turns session changes and power events into the host events 15 and
// 16 (the same texts as the console host's window gives), which a thread of their own hands
// to the plug-in, takes the requests to stop (stop, shutdown, preshutdown), and reports the
// service's state back to the SCM.
#pragma once

#include <windows.h>
#include <winsvc.h>

#include <functional>
#include <memory>
#include <mutex>

#include "platform/win/unique_handle.h"
#include "tools/kiv/host_event_source.h"
#include "tools/kiv/win/delivery_queue.h"

namespace kiv::tool {

// How long the SCM is told to wait for the plug-in's orderly stop before it may take the
// service for hung; the stop is reported again, with a new checkpoint, as it progresses.
inline constexpr DWORD kStopWaitHintMs = 30000;
inline constexpr DWORD kStartWaitHintMs = 30000;

class ServiceControl {
 public:
  // Hands a SERVICE_STATUS to the SCM (SetServiceStatus on the handle that
  // RegisterServiceCtrlHandlerExW gave).
  using StatusReporter = std::function<void(const SERVICE_STATUS&)>;

  explicit ServiceControl(StatusReporter report);

  // The HandlerEx the SCM calls; `context` is the ServiceControl.
  static DWORD WINAPI handler(DWORD control, DWORD eventType, void* eventData, void* context);

  // Where session and power events go while the host runs; none before and after. Once
  // clearDelivery returns, the events taken before it have been delivered and no delivery
  // runs any more.
  void setDelivery(HostEventDelivery deliver);
  void clearDelivery();

  // Blocks until a stop request has come.
  void waitForStop() const;

  void reportStarting();
  void reportRunning();
  void reportStopping();
  // 0 for a clean stop, else the host's own failure number as a service-specific code.
  void reportStopped(DWORD serviceExitCode);

 private:
  DWORD handle(DWORD control, DWORD eventType, void* eventData);
  void report(DWORD state, DWORD waitHint, DWORD win32ExitCode = NO_ERROR, DWORD serviceExitCode = 0);
  void requestStop();
  HostEventDelivery queued();

  StatusReporter reporter_;
  platform::win::UniqueHandle stopRequested_;
  std::mutex statusLock_;  // guards the status and its checkpoint
  SERVICE_STATUS status_{};
  std::mutex deliveryLock_;  // guards queue_; held only to post, never while a delivery runs
  std::unique_ptr<DeliveryQueue> queue_;
};

}  // namespace kiv::tool
