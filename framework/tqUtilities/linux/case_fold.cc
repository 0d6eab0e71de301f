// A private C.UTF-8 locale object keeps case mapping the same whatever the host program
// did to its global locale.
#include "framework/tqUtilities/case_fold.h"

#include <locale.h>
#include <wctype.h>

#include <initializer_list>

namespace kiv::text {
namespace {

locale_t utf8Locale() {
  static const locale_t locale = [] {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      if (locale_t made = newlocale(LC_CTYPE_MASK, name, nullptr)) return made;
    }
    return locale_t{};
  }();
  return locale;
}

}  // namespace

char32_t upper(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - (U'a' - U'A');
  if (c < 0x80) return c;
  const locale_t locale = utf8Locale();
  if (locale == locale_t{}) return c;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale));
}

char32_t fold(char32_t c) {
  if (c < 0x80) return c >= U'A' && c <= U'Z' ? c + 32 : c;
  const locale_t locale = utf8Locale();
  if (locale == locale_t{}) return c;
  return static_cast<char32_t>(towlower_l(towupper_l(static_cast<wint_t>(c), locale), locale));
}

}  // namespace kiv::text
