// The host's session and power source on Windows: a hidden window on a thread of its own
// that receives WM_WTSSESSION_CHANGE (after WTSRegisterSessionNotification for every
// session) and WM_POWERBROADCAST, and hands each to the plug-in as code 15 or 16 with the
// message's own numbers as text: the event in s1 and, for sessions, the session id in s2.
//
// The window is a top-level window that is never shown rather than a message-only one:
// WM_POWERBROADCAST is broadcast to top-level windows only.
#include <windows.h>
#include <wtsapi32.h>

#include <future>
#include <string>
#include <thread>

#include "ITQEventSink.h"
#include "tools/kiv/host_event_source.h"
#include "tqUtilities.h"

namespace kiv::tool {
namespace {

constexpr const wchar_t* kWindowClass = L"KIVHostEvents";

class WindowSource : public HostEventSource {
 public:
  explicit WindowSource(HostEventDelivery deliver) : deliver_(std::move(deliver)) {}

  ~WindowSource() override {
    if (thread_.joinable()) {
      PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
      thread_.join();
    }
  }

  std::string name() const override { return name_; }

  // False when the window cannot be made; the thread has ended then.
  bool start() {
    std::promise<bool> started;
    auto ready = started.get_future();
    thread_ = std::thread([this, &started] { run(started); });
    if (ready.get()) return true;
    thread_.join();
    return false;
  }

 private:
  void run(std::promise<bool>& started) {
    threadId_ = GetCurrentThreadId();
    // The message queue exists before anyone can post WM_QUIT to it.
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    HWND window = createWindow();
    if (window == nullptr) {
      started.set_value(false);
      return;
    }
    const bool sessions = WTSRegisterSessionNotification(window, NOTIFY_FOR_ALL_SESSIONS) != 0;
    name_ = sessions ? "WTS session notifications and power broadcasts"
                     : "power broadcasts (no WTS session notifications: error " +
                           std::to_string(GetLastError()) + ")";
    started.set_value(true);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    if (sessions) WTSUnRegisterSessionNotification(window);
    DestroyWindow(window);
  }

  HWND createWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &WindowSource::windowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);  // fails harmlessly when registered already
    return CreateWindowExW(0, kWindowClass, L"KIV host", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                           nullptr, windowClass.hInstance, this);
  }

  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<WindowSource*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && message == WM_WTSSESSION_CHANGE) {
      self->deliver_(kTQEventSessionChange, std::to_wstring(wParam), std::to_wstring(lParam));
      return 0;
    }
    if (self != nullptr && message == WM_POWERBROADCAST) {
      self->deliver_(kTQEventPowerChange, std::to_wstring(wParam), L"");
      return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  HostEventDelivery deliver_;
  std::thread thread_;
  DWORD threadId_ = 0;
  std::string name_;
};

}  // namespace

std::vector<std::unique_ptr<HostEventSource>> startHostEventSources(HostEventDelivery deliver,
                                                                   std::string* description) {
  std::vector<std::unique_ptr<HostEventSource>> sources;
  auto source = std::make_unique<WindowSource>(std::move(deliver));
  if (source->start()) sources.push_back(std::move(source));
  *description = sources.empty()
                     ? "no session or power source (the event window could not be made); host "
                       "events arrive only through the bus endpoint tqHost"
                     : "session and power sources: " + sources.front()->name();
  return sources;
}

}  // namespace kiv::tool
