// Case mapping through the system's invariant-locale tables, which do not depend on the
// user's language (no Turkish dotless i) nor on the C library's locale. A character beyond
// the basic plane is mapped as the surrogate pair it is in UTF-16.
#include "framework/tqUtilities/case_fold.h"

#include <windows.h>

#include "platform/utf8.h"

namespace kiv::text {
namespace {

char32_t mapped(char32_t c, DWORD how) {
  wchar_t in[2];
  wchar_t out[2];
  const int length = static_cast<int>(utf::encodeWide(c, in));
  // A mapping that changes the length (none does in the invariant tables) is not taken.
  if (LCMapStringW(LOCALE_INVARIANT, how, in, length, out, length) != length) return c;
  std::size_t used = 0;
  bool valid = true;
  const char32_t result = utf::readWide(out, static_cast<std::size_t>(length), &used, &valid);
  return valid && used == static_cast<std::size_t>(length) ? result : c;
}

}  // namespace

char32_t upper(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - (U'a' - U'A');
  if (c < 0x80) return c;
  return mapped(c, LCMAP_UPPERCASE);
}

char32_t fold(char32_t c) {
  if (c < 0x80) return c >= U'A' && c <= U'Z' ? c + 32 : c;
  return mapped(mapped(c, LCMAP_UPPERCASE), LCMAP_LOWERCASE);
}

}  // namespace kiv::text
