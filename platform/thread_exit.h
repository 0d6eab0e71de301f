// Lets an object that a thread can own (a mutex) learn that the thread ended while owning
// it, as a Windows mutex is abandoned when its owning thread ends. Plain C++ that every
// backend builds; only where a thread keeps its list differs on Windows.
#pragma once

#include <thread>

namespace kiv::platform {

class ThreadOwned {
 public:
  // Runs on the ending thread, before it is gone, for every object that the thread
  // registered and that has not been forgotten since. Must not register or forget objects.
  virtual void threadEnded(std::thread::id thread) = 0;

 protected:
  ~ThreadOwned() = default;
};

// Calls object->threadEnded when the calling thread ends. Registering an object the thread
// has already registered changes nothing. Never call it while holding a lock that
// threadEnded takes.
void callWhenThreadEnds(ThreadOwned* object);

// No call for this object any more, from any thread; an object calls it in its destructor,
// before its members go. Waits for a call that is running on another thread.
void forgetThreadEnds(ThreadOwned* object);

}  // namespace kiv::platform
