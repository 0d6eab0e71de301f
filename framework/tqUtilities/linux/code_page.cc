// The system code page is UTF-8 here.
#include "framework/tqUtilities/code_page.h"

#include "platform/utf8.h"

namespace kiv::codepage {

bool toWide(std::string_view narrow, std::wstring& out) { return utf::toWide(narrow, out); }

bool toNarrow(std::wstring_view wide, std::string& out) { return utf::toUtf8(wide, out); }

}  // namespace kiv::codepage
