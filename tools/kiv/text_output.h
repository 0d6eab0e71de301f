// Text the kiv commands print: wide strings as UTF-8, and values quoted for one line.
#pragma once

#include <string>

#include "TQString.h"

namespace kiv::tool {

std::string utf8(const TQStringW& text);

// A quoted value that cannot break its line and reads back unambiguously: quotes,
// backslashes and control characters escaped.
std::string quoted(const std::string& text);

}  // namespace kiv::tool
