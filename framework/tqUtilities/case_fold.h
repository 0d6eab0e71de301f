// Case mapping for the string classes, independent of the process's global locale.
#pragma once

namespace kiv::text {

// The upper-case form of a character under a UTF-8 locale (ASCII only when the system has
// no UTF-8 locale at all).
wchar_t upper(wchar_t c);

// The form in which names that differ only in letter case meet: lower case of the upper
// case, so that letters with several lower forms (final sigma) compare equal.
wchar_t fold(wchar_t c);

}  // namespace kiv::text
