// Where a problem goes when no sink is installed: the system's own place for such text.
#pragma once

#include <string>

namespace kiv::platform {

void writeProblemWithoutSink(const std::string& text);

}  // namespace kiv::platform
