// Reference counting, version check and module bookkeeping shared by every object of the
// run-time component modules (tqTrace, tqXMLParser, tqOSServices).
#pragma once

#include <strings.h>

#include <atomic>

#include "ITQImpl.h"
#include "tqUtilities.h"

namespace kiv::components {

// The handle the factory gave this module's TQInit. Each module defines it; the modules
// are built with hidden visibility, so every module binds to its own.
HTQMODULE moduleHandle();

// How an object reached its first holder. One created through TQCreateInstance is paid for
// by its creator's TQFactory_LoadExW. One handed out by another object's entry takes a
// module load of its own, because its last holder calls TQFactory_Unload with the handle
// the object names.
enum class Origin { kCreated, kHandedOut };

template <class Interface, int kVersion>
class Component : public Interface {
 public:
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  void AddRef() override { refs_.fetch_add(1, std::memory_order_relaxed); }

  int Release() override {
    const int left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

  int CheckVersion(int required) override { return required == kVersion ? 1 : 0; }
  HTQMODULE GetLibraryHandle() override { return moduleHandle(); }

 protected:
  explicit Component(Origin origin) {
    if (origin == Origin::kHandedOut) TQFactory_AddRefModule(moduleHandle());
    TQFactory_IncInstCount(moduleHandle());
  }
  ~Component() override { TQFactory_DecInstCount(moduleHandle()); }

 private:
  std::atomic<int> refs_{1};  // the first holder's reference
};

// Drops a handed-out object that never reached a holder: its reference and its module load.
// Only called from inside an entry of a live object, so the load given back here is never
// the module's last one.
inline void discardHandedOut(ITQImpl* object) {
  if (object != nullptr && object->Release() == 0) TQFactory_Unload(moduleHandle());
}

// Class names are matched without regard to case, like the factory's other modules do.
inline bool isClass(const char* requested, const char* name) {
  return requested != nullptr && strcasecmp(requested, name) == 0;
}

}  // namespace kiv::components
