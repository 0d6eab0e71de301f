// Start-up and shutdown of the notifier: components, events, worker threads and the bus
// endpoint "tqNotify", and their orderly end.
#include "ITQTrace.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqNotify/notifier/ProcessState.h"
#include "tqNotify/notifier/ScopedLock.h"

namespace tqnotify {

TQptr<ITQOSLock> accessMutex;
std::atomic<int32_t> terminating{0};
std::atomic<int32_t> activeCallbacks{0};

void waitForActiveCallbacks() {
  for (int32_t active = activeCallbacks.load(); active != 0; active = activeCallbacks.load()) {
    activeCallbacks.wait(active);
  }
}

}  // namespace tqnotify

namespace {

using kiv::platform::Event;

// The framework's tracer, or one of our own, opened under our name.
bool obtainTracer(TQptr<ITQTrace>& tracer) {
  TQUtilities_GetTracerEx(tracer.fill(), 2);
  if (tracer) return true;
  if (!tracer.CreateInstance(L"tqTrace", "ITQTrace", L"TQNotify")) return false;
  tracer->open(L"TQNotify", 8, 2, nullptr, 0);
  return true;
}

void traceFailure(TQptr<ITQTrace>& tracer, const wchar_t* text) {
  tracer->trace(L"tqNotify", 1, L"%s", text);
}

}  // namespace

// A failing step answers false at once; whatever ran before stays in place for shutdown.
bool CTQNotify::Initialize(PluginInitInfo info) {
  hostSink = info.sink;

  TQptr<ITQTrace> tracer;
  if (!obtainTracer(tracer)) return false;
  xmlParser.CreateInstanceV4(L"tqXMLParser", "ITQXMLParser", L"tqNotify");
  TQptr<TQOSThreadControl> threads;
  if (!threads.CreateInstance(L"tqOSServices", "TQOSThreadControl")) return false;

  if (!threads->createMutex(nullptr, 0, tqnotify::accessMutex.fill())) {
    traceFailure(tracer, L"failed to create accessMutex");
    return false;
  }
  stopEvent.emplace(Event::Reset::kManual);
  if (watchShell == 1) {
    userLogonEvent.emplace(Event::Reset::kAuto);
    if (!threads->createLock(watcherLock.fill())) return false;
    if (!threads->startThread(shellWatcherThread, 0, this, shellWatcher.fill())) return false;
  }
  resumeEvent.emplace(Event::Reset::kAuto);
  if (!threads->startThread(ipThreadEntry, 0, this, ipMonitor.fill())) return false;

  const unsigned char options[4] = {1, 0, 0, 0};
  if (SmInitialize(options, tracer.get()) != 0) {
    traceFailure(tracer, L"SmInitialize failed");
    return false;
  }
  if (SmOpenEndPointU("tqNotify", 0, onBusMessage, 0, this, &endpoint) != 0) {
    traceFailure(tracer, L"SmOpenEndPoint failed");
    return false;
  }
  return true;
}

int CTQNotify::ShutdownW(TQStringW, int) {
  tqnotify::terminating = 1;
  // Waits for a message in progress; callbacks that arrive now give up (see onBusMessage),
  // so closing the endpoint below cannot wait on a callback that waits on this lock.
  ScopedLock access(tqnotify::accessMutex.get());
  if (endpoint != 0) {
    SmCloseEndPoint(endpoint);
    endpoint = 0;
    SmDeinitialize();
  }
  if (stopEvent) stopEvent->set();
  if (ipMonitor) ipMonitor->wait();
  if (watchShell == 1 && shellWatcher) shellWatcher->wait();
  stopEvent.reset();
  access.unlock();
  tqnotify::waitForActiveCallbacks();
  tqnotify::accessMutex.Release();
  report(kTQEventShutdown);
  return 0;
}
