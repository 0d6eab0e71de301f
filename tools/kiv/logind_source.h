// Session and power events from systemd-logind, read from the system bus.
#pragma once

#include <memory>

#include "tools/kiv/host_event_source.h"

namespace kiv::tool {

// Null when logind does not answer on the system bus (DBUS_SYSTEM_BUS_ADDRESS is honoured).
std::unique_ptr<HostEventSource> startLogindSource(HostEventDelivery deliver);

}  // namespace kiv::tool
