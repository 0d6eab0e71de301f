// The host's session and power source on Windows: a hidden window on a thread of its own
// that receives WM_WTSSESSION_CHANGE (after WTSRegisterSessionNotification for every
// session) and WM_POWERBROADCAST, and hands each to the plug-in as code 15 or 16 with the
// message's own numbers as text: the event in s1 and, for sessions, the session id in s2.
//
// The window is a message-only one, which gets suspend and resume through
// RegisterSuspendResumeNotification (Windows 8 and later, looked up at run time). Older
// systems broadcast WM_POWERBROADCAST to top-level windows only, so there the window is a
// top-level one that is never shown. (Making a top-level window first would cost a long
// wait on a desktop without a display, as Wine has without X.)
#include <windows.h>
#include <wtsapi32.h>

#include <future>
#include <string>
#include <thread>

#include "ITQEventSink.h"
#include "tools/kiv/host_event_source.h"
#include "tools/kiv/win/session_power_events.h"
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
    registerWindowClass();
    HWND window = createWindow(HWND_MESSAGE);
    bool power = window != nullptr && registerSuspendResume(window);
    bool messageOnly = true;
    if (window != nullptr && !power) {
      if (HWND topLevel = createWindow(nullptr)) {
        DestroyWindow(window);
        window = topLevel;
        power = true;
        messageOnly = false;
      }
    }
    if (window == nullptr) {
      started.set_value(false);
      return;
    }
    const bool sessions = WTSRegisterSessionNotification(window, NOTIFY_FOR_ALL_SESSIONS) != 0;
    const DWORD sessionError = GetLastError();
    name_ = std::string(messageOnly ? "message-only" : "hidden") + " window: " +
            (sessions ? "WTS session notifications"
                      : "no WTS session notifications (error " + std::to_string(sessionError) + ")") +
            (power ? ", power broadcasts" : ", no power broadcasts");
    started.set_value(true);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    if (sessions) WTSUnRegisterSessionNotification(window);
    DestroyWindow(window);
  }

  static void registerWindowClass() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &WindowSource::windowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);  // fails harmlessly when registered already
  }

  // A message-only window for HWND_MESSAGE, else a top-level one that is never shown.
  HWND createWindow(HWND parent) {
    return CreateWindowExW(0, kWindowClass, L"KIV host", parent == nullptr ? WS_OVERLAPPED : 0,
                           0, 0, 0, 0, parent, nullptr, GetModuleHandleW(nullptr), this);
  }

  // Suspend and resume for a window that broadcasts do not reach; false where the system
  // has no such registration.
  static bool registerSuspendResume(HWND window) {
    using Register = void* (WINAPI*)(HANDLE, DWORD);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto registerFn = user32 == nullptr ? nullptr
                                        : reinterpret_cast<Register>(reinterpret_cast<void*>(
                                              GetProcAddress(user32, "RegisterSuspendResumeNotification")));
    return registerFn != nullptr && registerFn(window, DEVICE_NOTIFY_WINDOW_HANDLE) != nullptr;
  }

  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<WindowSource*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && message == WM_WTSSESSION_CHANGE) {
      deliverSessionChange(self->deliver_, wParam, lParam);
      return 0;
    }
    if (self != nullptr && message == WM_POWERBROADCAST) {
      deliverPowerChange(self->deliver_, wParam);
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
