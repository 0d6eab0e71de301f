// Windows sets no small limit on a process's handles.
#include "tools/kiv/descriptor_limit.h"

namespace kiv::tool {

void raiseDescriptorLimit() {}

}  // namespace kiv::tool
