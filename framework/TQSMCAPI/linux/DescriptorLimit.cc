// The soft limit on open descriptors, read at each use: the host raises it after start.
#include "framework/TQSMCAPI/DescriptorLimit.h"

#include <sys/resource.h>

namespace kiv::bus {

size_t descriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1 << 20;
  return static_cast<size_t>(limit.rlim_cur);
}

}  // namespace kiv::bus
