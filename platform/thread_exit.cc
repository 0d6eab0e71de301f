// Thread-end calls: each thread keeps the objects it registered in a thread-local list
// whose destructor runs as the thread ends. One process-wide guard covers every list, so
// an object forgotten on one thread is never called on another.
#include "platform/thread_exit.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <vector>

#include "platform/fork_guard.h"
#ifdef _WIN32
#include "platform/win/fiber_slot.h"
#endif

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

#ifdef _WIN32
// The list hangs off a fiber-local slot: a thread_local list would be destroyed through the
// thread's already freed TLS block there (see fiber_slot.h).
void __stdcall endList(void* list) { delete static_cast<ThreadList*>(list); }

ThreadList& ownList() {
  static const win::FiberSlot slot(endList);
  if (auto* list = static_cast<ThreadList*>(slot.get())) return *list;
  auto* list = new ThreadList;  // the slot owns it from here: endList deletes it
  if (slot.set(list)) return *list;
  delete list;
  thread_local ThreadList fallback;  // no slot left in this process: the plain way
  return fallback;
}
#else
ThreadList& ownList() {
  thread_local ThreadList list;
  return list;
}
#endif

}  // namespace

void callWhenThreadEnds(ThreadOwned* object) {
  ThreadList& list = ownList();  // made before the guard is taken: its constructor takes it
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
