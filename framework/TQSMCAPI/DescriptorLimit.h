// How many descriptors (handles) the process may hold at once.
#pragma once

#include <cstddef>

namespace kiv::bus {

size_t descriptorLimit();

}  // namespace kiv::bus
