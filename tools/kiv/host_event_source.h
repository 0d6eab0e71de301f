// Host-side sources of the events a host delivers to its plug-in: session changes (code 15)
// and power changes (code 16), taken from systemd-logind where it runs, else from utmp.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kiv::tool {

// Delivers one event to the plug-in; called from a source's own thread.
using HostEventDelivery =
    std::function<void(int code, const std::wstring& s1, const std::wstring& s2)>;

class HostEventSource {
 public:
  virtual ~HostEventSource() = default;
  virtual std::string name() const = 0;
};

// Starts every source that this machine offers. Sessions that exist already are not
// reported: the plug-in reads them itself when it is constructed. `description` names the
// active sources for the start-up trace, or says that there are none.
std::vector<std::unique_ptr<HostEventSource>> startHostEventSources(HostEventDelivery deliver,
                                                                   std::string* description);

}  // namespace kiv::tool
