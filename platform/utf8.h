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

// Wide characters a valid code point takes: two (a surrogate pair) for one beyond the basic
// plane where wchar_t has 16 bits, else one.
constexpr std::size_t wideUnits(char32_t codePoint) {
  return sizeof(wchar_t) == 2 && codePoint >= 0x10000 ? 2 : 1;
}
// Writes the wide form of a valid code point to out[0..wideUnits) and answers its length.
std::size_t encodeWide(char32_t codePoint, wchar_t* out);
void appendWide(std::wstring& out, char32_t codePoint);

// Calls `visit` with each code point of wide text in turn; malformed units come as
// kReplacement.
template <typename Visit>
void forEachCodePoint(std::wstring_view text, Visit&& visit) {
  for (std::size_t at = 0; at < text.size();) {
    std::size_t used = 0;
    bool valid = true;
    visit(readWide(text.data() + at, text.size() - at, &used, &valid));
    at += used;
  }
}

// Whole-text conversions; answer false when anything was replaced.
bool toWide(std::string_view utf8, std::wstring& out);
bool toUtf8(std::wstring_view wide, std::string& out);

// Convenience forms for places that only want the text.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

}  // namespace kiv::utf
