// Session logons and logoffs read from the utmp file, for machines where logind does not run.
#pragma once

#include <memory>

#include "tools/kiv/host_event_source.h"

namespace kiv::tool {

// Null when the utmp file cannot be read or watched.
std::unique_ptr<HostEventSource> startUtmpSource(HostEventDelivery deliver);

}  // namespace kiv::tool
