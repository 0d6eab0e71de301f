// Holds a mutex or lock object for a scope, and unlocks it on leaving only when it was
// obtained.
#pragma once

#include "TQOSServices.h"

class ScopedLock {
 public:
  // A null object is accepted and counts as not obtained.
  explicit ScopedLock(ITQOSLock* object) : object_(object), held_(object && lockObtained(object->lock())) {}
  ~ScopedLock() { unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

  bool held() const { return held_; }
  // Gives the lock back before the scope ends (for example before the object goes away).
  void unlock() {
    if (held_) object_->unlock();
    held_ = false;
  }

 private:
  ITQOSLock* object_;
  bool held_;
};
