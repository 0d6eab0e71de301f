// The ANSI code page through the system's converters. Where the ANSI code page is UTF-8
// the converters cannot report replacements, so our own UTF-8 codec serves instead.
#include "framework/tqUtilities/code_page.h"

#include <windows.h>

#include <climits>

#include "platform/utf8.h"

namespace kiv::codepage {
namespace {

bool ansiIsUtf8() { return GetACP() == CP_UTF8; }

}  // namespace

bool toWide(std::string_view narrow, std::wstring& out) {
  out.clear();
  if (narrow.empty()) return true;
  if (ansiIsUtf8()) return utf::toWide(narrow, out);
  if (narrow.size() > INT_MAX) return false;
  const int length = static_cast<int>(narrow.size());
  // A byte sequence that is no character of the code page fails the strict conversion; the
  // lenient one then replaces it.
  bool exact = true;
  int needed = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow.data(), length, nullptr, 0);
  DWORD flags = MB_ERR_INVALID_CHARS;
  if (needed == 0) {
    exact = false;
    flags = 0;
    needed = MultiByteToWideChar(CP_ACP, 0, narrow.data(), length, nullptr, 0);
    if (needed == 0) return false;
  }
  out.resize(static_cast<std::size_t>(needed));
  MultiByteToWideChar(CP_ACP, flags, narrow.data(), length, out.data(), needed);
  return exact;
}

bool toNarrow(std::wstring_view wide, std::string& out) {
  out.clear();
  if (wide.empty()) return true;
  if (ansiIsUtf8()) return utf::toUtf8(wide, out);
  if (wide.size() > INT_MAX) return false;
  const int length = static_cast<int>(wide.size());
  // No "best fit": a character the code page lacks becomes the default character, and the
  // caller learns of it, rather than turning silently into a look-alike.
  const int needed = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length,
                                         nullptr, 0, nullptr, nullptr);
  if (needed == 0) return false;
  out.resize(static_cast<std::size_t>(needed));
  BOOL usedDefault = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, out.data(), needed,
                      nullptr, &usedDefault);
  return !usedDefault;
}

}  // namespace kiv::codepage
