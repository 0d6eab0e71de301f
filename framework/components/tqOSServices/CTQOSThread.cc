// Starting, joining and tearing down the thread behind a thread object.
#include "CTQOSThread.h"

#include <system_error>

bool CTQOSThread::isOwnThread() const { return id_.load() == std::this_thread::get_id(); }

CTQOSThread::~CTQOSThread() {
  std::lock_guard lock(mutex_);
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
    TQFactory_AddRefModule(kiv::components::moduleHandle());
  } else {
    thread_.join();
  }
}

bool CTQOSThread::start(TQThreadFunction function, void* argument) {
  std::lock_guard lock(mutex_);
  try {
    // The body must not touch the object after the function returns: the function may have
    // dropped the last reference.
    ITQOSThread* self = this;
    thread_ = std::thread([function, self, argument] { function(self, argument); });
    id_ = thread_.get_id();
  } catch (const std::system_error& error) {
    TQUtilities_TraceErrorW(L"tqOSServices", L"%s: cannot start a thread: %hs",
                            L"CTQOSThreadControl::startThread", error.what());
    return false;
  }
  return true;
}

int CTQOSThread::wait() {
  if (isOwnThread()) return 1;
  std::lock_guard lock(mutex_);
  // Before start has stored the id, the new thread gets here only after start let go.
  if (!thread_.joinable()) return 0;
  if (thread_.get_id() == std::this_thread::get_id()) return 1;
  thread_.join();
  return 0;
}
