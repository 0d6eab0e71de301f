// RLIMIT_NOFILE's soft limit raised to its hard limit.
#include "tools/kiv/descriptor_limit.h"

#include <sys/resource.h>

namespace kiv::tool {

void raiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace kiv::tool
