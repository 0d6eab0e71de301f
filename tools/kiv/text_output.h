// Text the kiv commands print: wide strings as UTF-8, and values quoted for one line.
#pragma once

#include <string>

#include "TQString.h"

namespace kiv::tool {

std::string utf8(const TQStringW& text);

// A quoted value that cannot break its line: quotes and control characters escaped, and
// backslashes too when the line is JSON.
std::string quoted(const std::string& text, bool json);

}  // namespace kiv::tool
