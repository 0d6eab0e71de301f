// Arguments arrive as UTF-8 already.
#include "tools/kiv/process_setup.h"

namespace kiv::tool {

std::vector<std::string> prepareProcess(int argc, char** argv) { return {argv, argv + argc}; }

}  // namespace kiv::tool
