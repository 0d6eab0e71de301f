// Stop requests are the console's control events. The handler runs on a thread the system
// starts for it; it only raises an event that the host's main thread waits for. When the
// console closes, the system ends the process as soon as the handler returns, so the
// handler then gives the host time to finish its orderly stop (the process ends when the
// host returns from main, whichever comes first).
#include "tools/kiv/host_stop.h"

#include <windows.h>

namespace kiv::tool {
namespace {

// How long a closing console leaves the host to stop; Windows allows about five seconds.
constexpr DWORD kCloseGraceMs = 4500;

HANDLE stopRequested() {
  static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

BOOL WINAPI onControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      SetEvent(stopRequested());
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      SetEvent(stopRequested());
      Sleep(kCloseGraceMs);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

// A process started in a process group of its own (as a supervisor starts the host, to be
// able to stop it alone) inherits Ctrl+C switched off; the host says it stops on Ctrl+C, so
// it switches it back on.
void catchStopRequests() {
  stopRequested();
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(&onControl, TRUE);
}

void waitForStopRequest() { WaitForSingleObject(stopRequested(), INFINITE); }

const char* stopRequestNames() { return "Ctrl+C or Ctrl+Break"; }

// A console program has no service manager to tell.
void announceReady() {}
void announceStopping() {}

}  // namespace kiv::tool
