// Stop requests are SIGINT and SIGTERM, taken synchronously with sigwait; systemd learns of
// readiness through sd_notify.
#include "tools/kiv/host_stop.h"

#include <pthread.h>
#include <signal.h>
#include <systemd/sd-daemon.h>

namespace kiv::tool {
namespace {

sigset_t stopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

// Blocked before any thread starts, so every thread inherits the mask and the signals are
// taken only by sigwait.
void catchStopRequests() {
  const sigset_t signals = stopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A reader of standard output that goes away is no request to stop, least of all in the
  // middle of a message: the failed write is noticed and handled by the sink instead.
  ::signal(SIGPIPE, SIG_IGN);
}

void waitForStopRequest() {
  const sigset_t signals = stopSignals();
  int signal = 0;
  while (sigwait(&signals, &signal) != 0) {
  }
}

const char* stopRequestNames() { return "SIGINT or SIGTERM"; }

void announceReady() { sd_notify(0, "READY=1"); }
void announceStopping() { sd_notify(0, "STOPPING=1"); }

}  // namespace kiv::tool
