// Valid text goes through Windows' own converters, which refuse anything invalid; the
// character-by-character conversion replaces what they refuse.
#include "platform/utf8_system.h"

#include <windows.h>

#include <climits>

namespace kiv::utf {
namespace {

static_assert(sizeof(wchar_t) == 2, "wide text on Windows is UTF-16");

// The converters take int lengths; longer texts go the character-by-character way.
bool fitsInt(std::size_t size) { return size <= static_cast<std::size_t>(INT_MAX); }

}  // namespace

bool systemToWide(std::string_view utf8, std::wstring& out) {
  out.clear();
  if (utf8.empty()) return true;
  if (!fitsInt(utf8.size())) return false;
  const int size = static_cast<int>(utf8.size());
  const int needed =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (needed <= 0) return false;
  out.resize(static_cast<std::size_t>(needed));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, out.data(),
                             needed) == needed;
}

bool systemToUtf8(std::wstring_view wide, std::string& out) {
  out.clear();
  if (wide.empty()) return true;
  if (!fitsInt(wide.size())) return false;
  const int size = static_cast<int>(wide.size());
  const int needed = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size,
                                         nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return false;
  out.resize(static_cast<std::size_t>(needed));
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, out.data(),
                             needed, nullptr, nullptr) == needed;
}

}  // namespace kiv::utf
