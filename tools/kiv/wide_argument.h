// Command-line values that become wide text. They must be valid UTF-8: a conversion that
// replaced bad bytes would let two different arguments name the same unit or value.
#pragma once

#include <string>

#include "TQString.h"

namespace kiv::tool {

// The value as wide text; a usage error naming `name` when it is not valid UTF-8.
TQStringW wideArgument(const std::string& name, const std::string& value);

// The same check for values that are passed on as UTF-8.
void requireUtf8(const std::string& name, const std::string& value);

}  // namespace kiv::tool
