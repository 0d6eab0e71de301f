// The service's control handler, called as the SCM calls it: session changes and suspend and
// resume become the same host events as the console host's window makes of the same
// notifications, and stop, shutdown and preshutdown end the wait with STOP_PENDING reported.
// (Wine's SCM sends no session or power controls.)
#include <windows.h>
#include <wtsapi32.h>

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/kiv_test.h"
#include "tools/kiv/host_event_source.h"
#include "tools/kiv/win/service_control.h"

namespace {

using kiv::tool::ServiceControl;
using Event = std::tuple<int, std::wstring, std::wstring>;

// Collects what a source delivers, from whichever thread.
struct Deliveries {
  std::mutex lock;
  std::vector<Event> events;
  kiv::tool::HostEventDelivery delivery() {
    return [this](int code, const std::wstring& s1, const std::wstring& s2) {
      std::lock_guard<std::mutex> guard(lock);
      events.emplace_back(code, s1, s2);
    };
  }
};

struct Statuses {
  std::vector<SERVICE_STATUS> reported;
  ServiceControl::StatusReporter reporter() {
    return [this](const SERVICE_STATUS& status) { reported.push_back(status); };
  }
};

DWORD control(ServiceControl& handler, DWORD code, DWORD eventType = 0, void* data = nullptr) {
  return ServiceControl::handler(code, eventType, data, &handler);
}

HWND ownEventWindow() {
  for (HWND parent : {HWND_MESSAGE, static_cast<HWND>(nullptr)}) {
    for (HWND window = nullptr; (window = FindWindowExW(parent, window, L"KIVHostEvents", nullptr)) != nullptr;) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == GetCurrentProcessId()) return window;
    }
  }
  return nullptr;
}

struct Notification {
  DWORD sessionEvent;  // 0 for a power event
  DWORD event;
  DWORD sessionId;
};

const Notification kNotifications[] = {
    {1, WTS_SESSION_LOGON, 3}, {1, WTS_CONSOLE_CONNECT, 1}, {1, WTS_SESSION_LOGOFF, 3},
    {0, PBT_APMSUSPEND, 0},    {0, PBT_APMRESUMEAUTOMATIC, 0}, {0, PBT_APMRESUMESUSPEND, 0},
};

TEST(ServiceControlTest, SessionAndPowerControlsBecomeTheWindowsHostEvents) {
  Statuses statuses;
  ServiceControl handler(statuses.reporter());
  Deliveries fromHandler;
  handler.setDelivery(fromHandler.delivery());
  for (const Notification& n : kNotifications) {
    WTSSESSION_NOTIFICATION session{sizeof(WTSSESSION_NOTIFICATION), n.sessionId};
    EXPECT_EQ(n.sessionEvent ? control(handler, SERVICE_CONTROL_SESSIONCHANGE, n.event, &session)
                             : control(handler, SERVICE_CONTROL_POWEREVENT, n.event),
              static_cast<DWORD>(NO_ERROR));
  }
  ASSERT_EQ(fromHandler.events.size(), std::size(kNotifications));
  EXPECT_EQ(fromHandler.events[0], Event(15, L"5", L"3"));  // logon of session 3
  EXPECT_EQ(fromHandler.events[1], Event(15, L"1", L"1"));  // console connect
  EXPECT_EQ(fromHandler.events[3], Event(16, L"4", L""));   // suspend
  EXPECT_EQ(fromHandler.events[4], Event(16, L"18", L""));  // resume

  // The console host's window, sent the same notifications as messages.
  Deliveries fromWindow;
  std::string description;
  auto sources = kiv::tool::startHostEventSources(fromWindow.delivery(), &description);
  ASSERT_EQ(sources.size(), 1u) << description;
  HWND window = nullptr;
  ASSERT_TRUE(kivtest::waitFor([&] { return (window = ownEventWindow()) != nullptr; }));
  for (const Notification& n : kNotifications) {
    // Sent, not posted: the window has handled it when the call returns.
    if (n.sessionEvent) {
      SendMessageW(window, WM_WTSSESSION_CHANGE, n.event, n.sessionId);
    } else {
      SendMessageW(window, WM_POWERBROADCAST, n.event, 0);
    }
  }
  sources.clear();
  EXPECT_EQ(fromWindow.events, fromHandler.events);
}

TEST(ServiceControlTest, NothingIsDeliveredOutsideTheHostsRunAndUnknownControlsAreRefused) {
  Statuses statuses;
  ServiceControl handler(statuses.reporter());
  Deliveries deliveries;
  WTSSESSION_NOTIFICATION session{sizeof(WTSSESSION_NOTIFICATION), 2};
  EXPECT_EQ(control(handler, SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, &session),
            static_cast<DWORD>(NO_ERROR));
  handler.setDelivery(deliveries.delivery());
  handler.clearDelivery();
  EXPECT_EQ(control(handler, SERVICE_CONTROL_POWEREVENT, PBT_APMSUSPEND), static_cast<DWORD>(NO_ERROR));
  EXPECT_TRUE(deliveries.events.empty());
  // A session change without its notification is refused rather than read.
  EXPECT_EQ(control(handler, SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, nullptr),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(control(handler, SERVICE_CONTROL_PAUSE), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(control(handler, SERVICE_CONTROL_INTERROGATE), static_cast<DWORD>(NO_ERROR));
}

TEST(ServiceControlTest, RunningServiceTakesStopsSessionsAndPower) {
  Statuses statuses;
  ServiceControl handler(statuses.reporter());
  handler.reportStarting();
  handler.reportRunning();
  ASSERT_EQ(statuses.reported.size(), 2u);
  EXPECT_EQ(statuses.reported[0].dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
  EXPECT_GT(statuses.reported[0].dwWaitHint, 0u);
  const SERVICE_STATUS& running = statuses.reported[1];
  EXPECT_EQ(running.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  for (DWORD accepted : {SERVICE_ACCEPT_STOP, SERVICE_ACCEPT_SHUTDOWN, SERVICE_ACCEPT_PRESHUTDOWN,
                         SERVICE_ACCEPT_SESSIONCHANGE, SERVICE_ACCEPT_POWEREVENT}) {
    EXPECT_TRUE(running.dwControlsAccepted & accepted) << accepted;
  }
  EXPECT_EQ(running.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
}

TEST(ServiceControlTest, EachStopControlEndsTheWaitAndReportsStopPending) {
  for (DWORD stop : {SERVICE_CONTROL_STOP, SERVICE_CONTROL_SHUTDOWN, SERVICE_CONTROL_PRESHUTDOWN}) {
    Statuses statuses;
    ServiceControl handler(statuses.reporter());
    handler.reportRunning();
    auto waited = std::async(std::launch::async, [&] { handler.waitForStop(); });
    EXPECT_EQ(control(handler, stop), static_cast<DWORD>(NO_ERROR)) << stop;
    ASSERT_EQ(waited.wait_for(std::chrono::seconds(20)), std::future_status::ready) << stop;
    const SERVICE_STATUS pending = statuses.reported.back();
    EXPECT_EQ(pending.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING)) << stop;
    EXPECT_GT(pending.dwWaitHint, 0u);
    EXPECT_GT(pending.dwCheckPoint, 0u);
    EXPECT_EQ(pending.dwControlsAccepted, 0u);

    // The host's own "stopping" goes on counting; it never runs again once a stop began.
    handler.reportStopping();
    EXPECT_GT(statuses.reported.back().dwCheckPoint, pending.dwCheckPoint);
    handler.reportRunning();
    EXPECT_EQ(statuses.reported.back().dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  }
}

// A logon's delivery can take the plug-in many seconds; meanwhile a stop is still taken
// and the host's own status reports still reach the SCM.
TEST(ServiceControlTest, ADeliveryInProgressHoldsUpNeitherTheStopNorTheStatus) {
  Statuses statuses;
  ServiceControl handler(statuses.reporter());
  handler.reportRunning();
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  handler.setDelivery([&](int, const std::wstring&, const std::wstring&) {
    entered.set_value();
    released.wait();
  });
  WTSSESSION_NOTIFICATION session{sizeof(WTSSESSION_NOTIFICATION), 3};
  auto delivering = std::async(std::launch::async, [&] {
    return control(handler, SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, &session);
  });
  // Ends the delivery however the test leaves, before the futures wait for their threads.
  struct Release {
    std::promise<void>& promise;
    bool done = false;
    void now() {
      if (!std::exchange(done, true)) promise.set_value();
    }
    ~Release() { now(); }
  } releaseOnExit{release};
  ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);

  auto stopping = std::async(std::launch::async, [&] {
    control(handler, SERVICE_CONTROL_STOP);
    handler.waitForStop();
    handler.reportStopping();
  });
  const std::future_status stopped = stopping.wait_for(std::chrono::seconds(20));
  releaseOnExit.now();
  EXPECT_EQ(stopped, std::future_status::ready);
  stopping.get();
  EXPECT_EQ(delivering.get(), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(statuses.reported.back().dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_EQ(statuses.reported.back().dwCheckPoint, 2u);
}

TEST(ServiceControlTest, AFailedRunStopsWithItsNumberAsServiceSpecificExitCode) {
  Statuses statuses;
  ServiceControl handler(statuses.reporter());
  handler.reportStarting();
  handler.reportStopped(3);
  const SERVICE_STATUS& stopped = statuses.reported.back();
  EXPECT_EQ(stopped.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(stopped.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
  EXPECT_EQ(stopped.dwServiceSpecificExitCode, 3u);
  EXPECT_EQ(stopped.dwCheckPoint, 0u);

  handler.reportStopped(0);
  EXPECT_EQ(statuses.reported.back().dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));
}

}  // namespace
