// The service's control handler, called as the SCM calls it: session changes and suspend and
// resume become the same host events as the console host's window makes of the same
// notifications, and stop, shutdown and preshutdown end the wait with STOP_PENDING reported.
// (Wine's SCM sends no session or power controls.)
#include <windows.h>
#include <wtsapi32.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
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
  handler.clearDelivery();  // what was queued has been delivered when it returns
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

// A plug-in whose first delivery stays in progress until the test lets it go, as a logon can
// keep it for many seconds. The hold gives up after 20 s, so that a handler that delivers on
// the caller's thread fails the test instead of hanging it.
class HeldPlugin {
 public:
  kiv::tool::HostEventDelivery delivery() {
    return [this](int code, const std::wstring& s1, const std::wstring& s2) {
      std::unique_lock<std::mutex> guard(lock_);
      if (!entered_) {
        entered_ = true;
        thread_ = std::this_thread::get_id();
        changed_.notify_all();
        changed_.wait_for(guard, std::chrono::seconds(20), [this] { return released_; });
      }
      events_.emplace_back(code, s1, s2);
    };
  }
  bool waitUntilEntered() {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(20), [this] { return entered_; });
  }
  void release() {
    std::lock_guard<std::mutex> guard(lock_);
    released_ = true;
    changed_.notify_all();
  }
  std::vector<Event> events() {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
  }
  std::thread::id thread() {
    std::lock_guard<std::mutex> guard(lock_);
    return thread_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool entered_ = false;
  bool released_ = false;
  std::thread::id thread_;
  std::vector<Event> events_;
};

// Lets the held delivery go however the test leaves, before the handler's end waits for it.
struct ReleaseOnExit {
  HeldPlugin& plugin;
  ~ReleaseOnExit() { plugin.release(); }
};

// The SCM hands every control over on one dispatcher thread, this test's own here: a session
// change must come back at once while the plug-in still handles it, or a stop behind it
// waits for the logon and the SCM gives up on the service after 30 s.
TEST(ServiceControlTest, ADeliveryInProgressHoldsUpNeitherTheDispatcherNorTheStop) {
  Statuses statuses;
  HeldPlugin plugin;
  ServiceControl handler(statuses.reporter());
  ReleaseOnExit releaseOnExit{plugin};
  handler.reportRunning();
  handler.setDelivery(plugin.delivery());

  WTSSESSION_NOTIFICATION session{sizeof(WTSSESSION_NOTIFICATION), 3};
  EXPECT_EQ(control(handler, SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, &session),
            static_cast<DWORD>(NO_ERROR));
  ASSERT_TRUE(plugin.waitUntilEntered());
  EXPECT_TRUE(plugin.events().empty()) << "the session change was handled on the dispatcher's thread";
  EXPECT_NE(plugin.thread(), std::this_thread::get_id());

  EXPECT_EQ(control(handler, SERVICE_CONTROL_STOP), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(statuses.reported.back().dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  auto waited = std::async(std::launch::async, [&] { handler.waitForStop(); });
  EXPECT_EQ(waited.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  // The host's own report of its stop reaches the SCM too, the plug-in still busy.
  handler.reportStopping();
  EXPECT_EQ(statuses.reported.back().dwCheckPoint, 2u);
  EXPECT_TRUE(plugin.events().empty());

  plugin.release();
  handler.clearDelivery();
  EXPECT_EQ(plugin.events(), std::vector<Event>{Event(15, L"5", L"3")});
}

// Events that wait behind a slow one keep their order, and the host's end of delivery hands
// over what was queued before it returns: the host may then end the plug-in.
TEST(ServiceControlTest, QueuedEventsKeepTheirOrderAndAreDeliveredBeforeDeliveryEnds) {
  Statuses statuses;
  HeldPlugin plugin;
  ServiceControl handler(statuses.reporter());
  ReleaseOnExit releaseOnExit{plugin};
  handler.setDelivery(plugin.delivery());

  WTSSESSION_NOTIFICATION session{sizeof(WTSSESSION_NOTIFICATION), 3};
  control(handler, SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, &session);
  ASSERT_TRUE(plugin.waitUntilEntered());
  control(handler, SERVICE_CONTROL_POWEREVENT, PBT_APMSUSPEND);
  control(handler, SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGOFF, &session);
  control(handler, SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC);

  plugin.release();
  handler.clearDelivery();
  const std::vector<Event> expected{Event(15, L"5", L"3"), Event(16, L"4", L""),
                                    Event(15, L"6", L"3"), Event(16, L"18", L"")};
  EXPECT_EQ(plugin.events(), expected);
  control(handler, SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, &session);
  EXPECT_EQ(plugin.events(), expected);
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
