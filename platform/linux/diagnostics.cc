// Problems without a sink go to the standard error stream.
#include <cstdio>

#include "platform/diagnostics_system.h"

namespace kiv::platform {

void writeProblemWithoutSink(const std::string& text) {
  std::fprintf(stderr, "kiv: %s\n", text.c_str());
}

}  // namespace kiv::platform
