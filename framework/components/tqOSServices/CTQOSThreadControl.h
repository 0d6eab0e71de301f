// Thread control: starts threads and makes mutexes (named: system-wide; unnamed:
// in-process) and in-process locks.
#pragma once

#include "../ComponentBase.h"
#include "TQOSServices.h"

class CTQOSThreadControl final : public kiv::components::Component<TQOSThreadControl, 2> {
 public:
  static constexpr int kVersion = 2;

  CTQOSThreadControl() : Component(kiv::components::Origin::kCreated) {}

  // Runs function(threadObject, argument) on a new thread; flags are not used.
  bool startThread(TQThreadFunction function, int flags, void* argument, ITQOSThread** thread) override;
  // With a name, the system-wide mutex of that name ("Global\" names are shared by every
  // session); without one, an in-process recursive mutex. The value is not used.
  bool createMutex(const wchar_t* name, int value, ITQOSLock** mutex) override;
  bool createLock(ITQOSLock** lock) override;
};
