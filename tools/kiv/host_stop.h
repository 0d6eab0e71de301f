// How `kiv host` is told to stop (SIGINT or SIGTERM on Linux, Ctrl+C, Ctrl+Break or the
// console closing on Windows) and how it tells a service manager that it runs.
#pragma once

namespace kiv::tool {

// Routes stop requests to waitForStopRequest. Called before any thread starts.
void catchStopRequests();
// Blocks until a stop request arrives.
void waitForStopRequest();
// The requests that stop the host, for messages.
const char* stopRequestNames();

// Tell the service manager, where there is one, that the host is up or is stopping.
void announceReady();
void announceStopping();

}  // namespace kiv::tool
