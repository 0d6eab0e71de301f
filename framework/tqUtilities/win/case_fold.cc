// Case mapping through the system's invariant-locale tables, which do not depend on the
// user's language (no Turkish dotless i) nor on the C library's locale.
#include "framework/tqUtilities/case_fold.h"

#include <windows.h>

namespace kiv::text {
namespace {

wchar_t mapped(wchar_t c, DWORD how) {
  wchar_t out = c;
  return LCMapStringW(LOCALE_INVARIANT, how, &c, 1, &out, 1) == 1 ? out : c;
}

}  // namespace

wchar_t upper(wchar_t c) {
  if (c >= L'a' && c <= L'z') return c - (L'a' - L'A');
  if (c < 0x80) return c;
  return mapped(c, LCMAP_UPPERCASE);
}

wchar_t fold(wchar_t c) {
  if (c < 0x80) return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c;
  return mapped(mapped(c, LCMAP_UPPERCASE), LCMAP_LOWERCASE);
}

}  // namespace kiv::text
