// The separator that add_path_separator writes: a backslash on Windows, where a slash is
// taken as one too, and a slash elsewhere, where a backslash is an ordinary character.
#pragma once

namespace kiv::path {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// Whether text ending in `last` already ends with a separator.
template <typename Char>
constexpr bool isSeparator(Char last) {
#ifdef _WIN32
  return last == Char('\\') || last == Char('/');
#else
  return last == Char('/');
#endif
}

}  // namespace kiv::path
