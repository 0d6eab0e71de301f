// Conversions between wide text (UTF-32 on Linux) and UTF-8 for the platform backends.
// Invalid input never fails: bad sequences and code points become U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace kiv::platform::detail {

std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view text);

}  // namespace kiv::platform::detail
