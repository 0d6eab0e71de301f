// Linux has no converter faster than the character-by-character one: every text takes that way.
#include "platform/utf8_system.h"

namespace kiv::utf {

bool systemToWide(std::string_view, std::wstring&) { return false; }
bool systemToUtf8(std::wstring_view, std::string&) { return false; }

}  // namespace kiv::utf
