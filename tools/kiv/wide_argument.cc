#include "tools/kiv/wide_argument.h"

#include <CLI/CLI.hpp>

namespace kiv::tool {

TQStringW wideArgument(const std::string& name, const std::string& value) {
  TQStringW wide;
  if (!wide.assign_utf8(value.data(), value.size())) {
    throw CLI::ValidationError(name, "the value is not valid UTF-8");
  }
  return wide;
}

void requireUtf8(const std::string& name, const std::string& value) { wideArgument(name, value); }

}  // namespace kiv::tool
