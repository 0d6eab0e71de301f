// The framework's printf-style formatter, one implementation for narrow and wide text.
// Beyond the usual specifiers it knows %T (always a wide string) and %t (always narrow);
// %s takes a string of the format's own width, %hs narrow and %ls wide.
#pragma once

#include <cstdarg>
#include <string>

namespace kiv::format {

// Appends the formatted text to out. Never reads an argument it has no specifier for and
// copies unknown specifiers through unchanged.
template <class Char>
void appendFormatted(std::basic_string<Char>& out, const Char* fmt, va_list args);

extern template void appendFormatted<char>(std::string&, const char*, va_list);
extern template void appendFormatted<wchar_t>(std::wstring&, const wchar_t*, va_list);

// Convenience: the formatted text as a new string.
template <class Char>
std::basic_string<Char> formatted(const Char* fmt, va_list args) {
  std::basic_string<Char> out;
  appendFormatted(out, fmt, args);
  return out;
}

}  // namespace kiv::format
