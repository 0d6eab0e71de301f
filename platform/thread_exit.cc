// Thread-end calls: each thread keeps the objects it registered in a thread-local list
// whose destructor runs as the thread ends. One process-wide guard covers every list, so
// an object forgotten on one thread is never called on another.
#include "platform/thread_exit.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <vector>

#include "platform/fork_guard.h"
#include "platform/thread_storage.h"

namespace kiv::platform {
namespace {

struct Registry {
  std::mutex guard;
  std::set<struct ThreadList*> lists;
};

// Never destroyed: threads may end while the process runs its static destructors.
Registry& registry() {
  static Registry* instance = [] {
    auto* made = new Registry;
    keepFreeAcrossFork(made->guard);
    return made;
  }();
  return *instance;
}

struct ThreadList {
  ThreadList() {
    std::lock_guard held(registry().guard);
    registry().lists.insert(this);
  }
  ~ThreadList() {
    const std::thread::id me = std::this_thread::get_id();
    std::lock_guard held(registry().guard);
    registry().lists.erase(this);
    for (ThreadOwned* object : objects) object->threadEnded(me);
  }
  ThreadList(const ThreadList&) = delete;
  ThreadList& operator=(const ThreadList&) = delete;

  std::vector<ThreadOwned*> objects;
};

}  // namespace

void callWhenThreadEnds(ThreadOwned* object) {
  ThreadList& list = perThread<ThreadList>();  // made before the guard is taken: its constructor takes it
  std::lock_guard held(registry().guard);
  if (std::find(list.objects.begin(), list.objects.end(), object) == list.objects.end()) {
    list.objects.push_back(object);
  }
}

void forgetThreadEnds(ThreadOwned* object) {
  std::lock_guard held(registry().guard);
  for (ThreadList* list : registry().lists) std::erase(list->objects, object);
}

}  // namespace kiv::platform
