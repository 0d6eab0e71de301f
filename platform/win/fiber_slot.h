// One pointer per thread whose callback gets it as the thread ends: the place for a
// per-thread object with a destructor. The destructors of thread_local objects in a
// mingw-w64 DLL may run after the thread's emulated TLS block has been freed (both are
// thread-end callbacks, in no fixed order), so such objects must not be thread_local.
#pragma once

namespace kiv::platform::win {

class FiberSlot {
 public:
  using ThreadEndCallback = void(__stdcall*)(void* value);
  explicit FiberSlot(ThreadEndCallback onThreadEnd);
  FiberSlot(const FiberSlot&) = delete;
  FiberSlot& operator=(const FiberSlot&) = delete;

  // False when the process has no slot left.
  bool valid() const;
  // This thread's pointer; null until it set one.
  void* get() const;
  bool set(void* value) const;

 private:
  unsigned long index_;
};

}  // namespace kiv::platform::win
