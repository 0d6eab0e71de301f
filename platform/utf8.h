// Conversion between UTF-8 and wide text (UTF-32, or UTF-16 on Windows) that never fails on
// bad input: every invalid sequence becomes U+FFFD and the caller learns that something was
// replaced.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kiv::utf {

inline constexpr char32_t kReplacement = 0xFFFD;

// Decodes one character from UTF-8 at text[0..size). Sets *used to the bytes consumed (at
// least 1) and answers the code point, or kReplacement with *valid false for a maximal
// invalid subpart.
char32_t decodeOne(const char* text, std::size_t size, std::size_t* used, bool* valid);

// Reads one character of wide text (a surrogate pair counts as one character). Lone
// surrogates and values beyond U+10FFFF give kReplacement with *valid false.
char32_t readWide(const wchar_t* text, std::size_t size, std::size_t* used, bool* valid);

// Appends the UTF-8 form of a valid code point.
void appendUtf8(std::string& out, char32_t codePoint);

// Whole-text conversions; answer false when anything was replaced.
bool toWide(std::string_view utf8, std::wstring& out);
bool toUtf8(std::wstring_view wide, std::string& out);

// Convenience forms for places that only want the text.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

}  // namespace kiv::utf
