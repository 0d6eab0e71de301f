// The plug-in host's run, shared by `kiv host` in a console and, on Windows, the service:
// what differs between them is where events go, where session and power changes come
// from, who asks the host to stop and whom it tells about its progress.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TQString.h"
#include "tools/kiv/host_event_source.h"

namespace kiv::tool {

// Why the host could not run; a service reports the number as its own exit code.
enum class HostFailure {
  kStateRoot = 1,    // the state root cannot be made or written
  kAnotherHost = 2,  // another host holds the bus endpoints
  kNoPlugin = 3,     // the plug-in module or its object is missing
  kPluginStart = 4,  // the plug-in failed to initialise
  kComponents = 5,   // the XML parser or the bus could not be set up
};

struct HostRole {
  bool json = false;
  // One line per event on standard output; without it each event is traced instead.
  bool printEvents = true;
  // Also told of every event, under the same lock as the line, so in the same order; what
  // it answers is added to the event's trace line (where else the event went).
  std::function<std::string(int code, const TQStringW& s1, const TQStringW& s2, const TQStringW& s3)>
      onEvent;
  std::function<std::vector<std::unique_ptr<HostEventSource>>(HostEventDelivery, std::string*)>
      startSources;
  std::function<void()> waitForStop;
  // `sources` names the session and power sources, for a start-up message.
  std::function<void(const std::string& sources)> ready;
  std::function<void()> stopping;
  std::function<void(HostFailure, const std::string& why)> failed;
};

// Runs the plug-in until `waitForStop` returns, then shuts it down in order. 0 when it ran,
// else the failure's number, after `failed` was told.
int runHost(const HostRole& role);

}  // namespace kiv::tool
