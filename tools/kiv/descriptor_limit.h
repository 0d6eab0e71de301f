// The host may hold as many descriptors as the system lets it: its listeners cap their
// connections within that limit, so the larger it is, the larger a flood it rides out.
#pragma once

namespace kiv::tool {

// Raises the soft limit on open descriptors to the hard one (nothing to do on Windows).
void raiseDescriptorLimit();

}  // namespace kiv::tool
