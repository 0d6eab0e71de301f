// Windows has no small per-process handle limit; the C run-time's own does not cover sockets
// or pipes. The figure only bounds the bus's connections together.
#include "framework/TQSMCAPI/DescriptorLimit.h"

namespace kiv::bus {

size_t descriptorLimit() { return 16384; }

}  // namespace kiv::bus
