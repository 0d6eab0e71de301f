// Keeps a process-wide mutex usable in the child of a fork: a fork while another thread
// holds it would otherwise leave it held forever in the child, where that thread is gone.
#pragma once

#include <mutex>

namespace kiv::platform {

// Call once per mutex, before other threads can take it; the mutex must live for the
// rest of the process.
void keepFreeAcrossFork(std::mutex& guard);

}  // namespace kiv::platform
