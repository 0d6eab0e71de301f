// Windows processes do not fork: a mutex never needs keeping free for a child.
#include "platform/fork_guard.h"

namespace kiv::platform {

void keepFreeAcrossFork(std::mutex&) {}

}  // namespace kiv::platform
