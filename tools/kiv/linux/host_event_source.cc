// Chooses the host's event sources: logind where it answers on the system bus, else utmp.
#include "tools/kiv/host_event_source.h"

#include "tools/kiv/logind_source.h"
#include "tools/kiv/utmp_source.h"

namespace kiv::tool {

std::vector<std::unique_ptr<HostEventSource>> startHostEventSources(HostEventDelivery deliver,
                                                                   std::string* description) {
  std::vector<std::unique_ptr<HostEventSource>> sources;
  if (auto logind = startLogindSource(deliver)) {
    sources.push_back(std::move(logind));
  } else if (auto utmp = startUtmpSource(deliver)) {
    sources.push_back(std::move(utmp));
  }

  std::string names;
  for (const auto& source : sources) names += (names.empty() ? "" : ", ") + source->name();
  *description = names.empty()
                     ? "no session or power sources (neither logind nor a readable utmp file); "
                       "host events arrive only through the bus endpoint tqHost"
                     : "session and power sources: " + names;
  return sources;
}

}  // namespace kiv::tool
