// Fiber-local storage: the system keeps the pointer and calls back with it at thread end.
#include "platform/win/fiber_slot.h"

#include <windows.h>

namespace kiv::platform::win {

FiberSlot::FiberSlot(ThreadEndCallback onThreadEnd) : index_(FlsAlloc(onThreadEnd)) {}

bool FiberSlot::valid() const { return index_ != FLS_OUT_OF_INDEXES; }

void* FiberSlot::get() const { return valid() ? FlsGetValue(index_) : nullptr; }

bool FiberSlot::set(void* value) const { return valid() && FlsSetValue(index_, value) != 0; }

}  // namespace kiv::platform::win
