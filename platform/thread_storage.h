// One object per thread, made at its first use on a thread and destroyed when that thread
// ends. mingw-w64 keeps thread_local objects in emulated storage that an ending thread frees
// before their destructors run, so a destructor there works on freed memory; on Windows the
// object lives on the heap instead, under a thread key whose destructor deletes it.
#pragma once

#ifdef _WIN32
#include <pthread.h>
#endif

namespace kiv::platform {

template <class T>
T& perThread() {
#ifdef _WIN32
  static const pthread_key_t key = [] {
    pthread_key_t made{};
    pthread_key_create(&made, [](void* object) { delete static_cast<T*>(object); });
    return made;
  }();
  auto* object = static_cast<T*>(pthread_getspecific(key));
  if (object == nullptr) {
    object = new T();
    pthread_setspecific(key, object);
  }
  return *object;
#else
  thread_local T object;
  return object;
#endif
}

}  // namespace kiv::platform
