// The configured root directory without touching the file system, for callers that only
// need to notice whether it changed or to name things after it.
#pragma once

#include <string>

namespace kiv::platform::detail {

// KIV_HOME or the default root; empty when neither can be worked out.
std::string configuredHome();

// The root when KIV_HOME is not set; empty when it cannot be worked out.
std::string defaultHome();

}  // namespace kiv::platform::detail
