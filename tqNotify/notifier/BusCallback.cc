// The callback of the bus endpoint "tqNotify": takes the access mutex, drops what is not
// a local message to handle, and passes the text to the notifier.
#include "platform/event.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqNotify/notifier/ProcessState.h"

namespace {

constexpr uint32_t kLockAttemptMs = 50;

// Shutdown holds the access mutex while it closes the endpoint, and closing waits for this
// callback; so the callback waits in short attempts and gives up once shutdown has begun.
// Answers whether the mutex is held; *refused when shutdown began first.
bool takeAccessMutex(bool* refused) {
  ITQOSLock* mutex = tqnotify::accessMutex.get();
  if (mutex == nullptr) return false;
  for (;;) {
    if (tqnotify::terminating != 0) {
      *refused = true;
      return false;
    }
    if (lockObtained(mutex->tryLock(kLockAttemptMs))) break;
  }
  if (tqnotify::terminating != 0) {
    mutex->unlock();
    *refused = true;
    return false;
  }
  return true;
}

class HeldAccess {
 public:
  explicit HeldAccess(bool held) : held_(held) {}
  ~HeldAccess() {
    if (held_) tqnotify::accessMutex.get()->unlock();
  }
  HeldAccess(const HeldAccess&) = delete;
  HeldAccess& operator=(const HeldAccess&) = delete;

 private:
  bool held_;
};

}  // namespace

uint32_t onBusMessage(void* first, void* /*second*/, void* third, int kind, SmMessage* message,
                      void* context) {
  // Counted before the shutdown test, so that shutdown, which sets the flag before it waits
  // for the count, either sees this callback or is seen by it.
  tqnotify::ActiveCallback active;
  if (tqnotify::terminating != 0) return kSmRefused;
  bool refused = false;
  HeldAccess access(takeAccessMutex(&refused));
  if (refused) return kSmRefused;
  if (kind != 1) return kSmTaken;

  int isLocal = 0;
  SmIsLocalMessage(first, third, &isLocal);
  if (isLocal == 0) {
    TQUtilities_TraceExW(L"tqNotify", 2, L"Ignoring notification from remote machine");
    return kSmTaken;
  }
  if (context == nullptr) return kSmRefused;
  if (message == nullptr || message->text == nullptr) return kSmTaken;

  TQStringW text;
  text.assign_utf8(message->text);
  static_cast<CTQNotify*>(context)->handleNotification(text);
  return kSmTaken;
}
