// The fork takes the mutex first, so no other thread holds it at the moment of the copy,
// and both sides release it afterwards.
#include "platform/fork_guard.h"

#include <pthread.h>

#include <vector>

namespace kiv::platform {
namespace {

std::mutex listLock;
std::vector<std::mutex*>& guarded() {
  static auto* list = new std::vector<std::mutex*>;  // never destroyed, like its mutexes
  return *list;
}

void lockAll() {
  listLock.lock();
  for (std::mutex* guard : guarded()) guard->lock();
}

void unlockAll() {
  for (auto it = guarded().rbegin(); it != guarded().rend(); ++it) (*it)->unlock();
  listLock.unlock();
}

}  // namespace

void keepFreeAcrossFork(std::mutex& guard) {
  static const bool registered = [] {
    pthread_atfork(lockAll, unlockAll, unlockAll);
    return true;
  }();
  (void)registered;
  std::lock_guard held(listLock);
  guarded().push_back(&guard);
}

}  // namespace kiv::platform
