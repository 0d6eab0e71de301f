// Case mapping for the string classes, independent of the process's global locale. It works
// on whole code points, so letters beyond the basic plane map too where wide text is UTF-16.
#pragma once

namespace kiv::text {

// The upper-case form of a character under a UTF-8 locale (ASCII only when the system has
// no UTF-8 locale at all).
char32_t upper(char32_t c);

// The form in which names that differ only in letter case meet: lower case of the upper
// case, so that letters with several lower forms (final sigma) compare equal.
char32_t fold(char32_t c);

}  // namespace kiv::text
