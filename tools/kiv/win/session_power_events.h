// The host events that the system's session and power notifications become, whichever way
// they arrive (the console host's window or the service's control handler): code 15 with
// the session event and the session id, code 16 with the power event, each number as text.
#pragma once

#include <string>

#include "ITQEventSink.h"
#include "tools/kiv/host_event_source.h"

namespace kiv::tool {

inline void deliverSessionChange(const HostEventDelivery& deliver, unsigned long long event,
                                 long long sessionId) {
  deliver(kTQEventSessionChange, std::to_wstring(event), std::to_wstring(sessionId));
}

inline void deliverPowerChange(const HostEventDelivery& deliver, unsigned long long event) {
  deliver(kTQEventPowerChange, std::to_wstring(event), L"");
}

}  // namespace kiv::tool
