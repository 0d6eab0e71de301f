// Arguments arrive as UTF-8 already.
#include "tools/kiv/process_setup.h"

#include <unistd.h>

namespace kiv::tool {

std::vector<std::string> prepareProcess(int argc, char** argv) { return {argv, argv + argc}; }

int currentProcessId() { return static_cast<int>(::getpid()); }

}  // namespace kiv::tool
