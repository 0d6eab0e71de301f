// The system's multibyte code page, in which narrow text is exchanged with callers: UTF-8
// on Linux, the ANSI code page on Windows. Conversions never fail on bad input: what
// cannot be converted is replaced, and the answer tells.
#pragma once

#include <string>
#include <string_view>

namespace kiv::codepage {

bool toWide(std::string_view narrow, std::wstring& out);
bool toNarrow(std::wstring_view wide, std::string& out);

}  // namespace kiv::codepage
