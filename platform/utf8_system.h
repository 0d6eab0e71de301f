// The system's own UTF-8 converters, where it has any worth calling: they take valid text
// only, and the character-by-character conversion handles the rest.
#pragma once

#include <string>
#include <string_view>

namespace kiv::utf {

// True with `out` filled when the system converted the whole text, which was valid; false
// (out unspecified) leaves the conversion to the caller.
bool systemToWide(std::string_view utf8, std::wstring& out);
bool systemToUtf8(std::wstring_view wide, std::string& out);

}  // namespace kiv::utf
