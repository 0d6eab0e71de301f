// Conversion between UTF-8 and wide text, character by character. A broken sequence is
// replaced by one U+FFFD for the longest prefix that could have started a valid character
// (the "maximal subpart" practice), so every system replaces alike. Where the system has a
// converter of its own, valid text goes through it first.
#include "platform/utf8.h"

#include <type_traits>

#include "platform/utf8_system.h"

namespace kiv::utf {
namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the sequence a lead byte starts, and the allowed range of its second byte
// (which rules out overlong forms, surrogates and values beyond U+10FFFF).
struct Lead {
  int length;
  unsigned char low;
  unsigned char high;
};

Lead leadOf(unsigned char byte) {
  if (byte >= 0xC2 && byte <= 0xDF) return {2, 0x80, 0xBF};
  if (byte == 0xE0) return {3, 0xA0, 0xBF};
  if (byte == 0xED) return {3, 0x80, 0x9F};
  if (byte >= 0xE1 && byte <= 0xEF) return {3, 0x80, 0xBF};
  if (byte == 0xF0) return {4, 0x90, 0xBF};
  if (byte >= 0xF1 && byte <= 0xF3) return {4, 0x80, 0xBF};
  if (byte == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

char32_t wideUnit(wchar_t unit) { return static_cast<std::make_unsigned_t<wchar_t>>(unit); }

// Converts one code point at a time; a malformed one becomes U+FFFD and the rest is still
// converted, and the answer says whether everything was well formed.
template <typename Char, typename Out, typename Read, typename Append>
bool recode(std::basic_string_view<Char> in, Out& out, Read read, Append append) {
  out.clear();
  out.reserve(in.size());
  bool allValid = true;
  for (std::size_t at = 0; at < in.size();) {
    std::size_t used = 0;
    bool valid = true;
    append(out, read(in.data() + at, in.size() - at, &used, &valid));
    allValid = allValid && valid;
    at += used;
  }
  return allValid;
}

}  // namespace

char32_t decodeOne(const char* text, std::size_t size, std::size_t* used, bool* valid) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  *used = 1;
  *valid = true;
  if (bytes[0] < 0x80) return bytes[0];
  const Lead lead = leadOf(bytes[0]);
  *valid = false;
  if (lead.length == 0) return kReplacement;
  char32_t codePoint = bytes[0] & (0xFF >> (lead.length + 1));
  for (int i = 1; i < lead.length; ++i) {
    if (static_cast<std::size_t>(i) >= size) return kReplacement;
    const unsigned char byte = bytes[i];
    const bool inRange = i == 1 ? (byte >= lead.low && byte <= lead.high) : isContinuation(byte);
    if (!inRange) return kReplacement;
    codePoint = (codePoint << 6) | (byte & 0x3F);
    *used = i + 1;
  }
  *valid = true;
  return codePoint;
}

char32_t readWide(const wchar_t* text, std::size_t size, std::size_t* used, bool* valid) {
  const char32_t unit = wideUnit(text[0]);
  *used = 1;
  *valid = true;
  if (unit >= 0xD800 && unit <= 0xDBFF && size > 1) {
    const char32_t low = wideUnit(text[1]);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      *used = 2;
      return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  if ((unit >= 0xD800 && unit <= 0xDFFF) || unit > 0x10FFFF) {
    *valid = false;
    return kReplacement;
  }
  return unit;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Wide text is UTF-16 where wchar_t has 16 bits (Windows), UTF-32 elsewhere.
std::size_t encodeWide(char32_t c, wchar_t* out) {
  if (wideUnits(c) == 2) {
    c -= 0x10000;
    out[0] = static_cast<wchar_t>(0xD800 + (c >> 10));
    out[1] = static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    return 2;
  }
  out[0] = static_cast<wchar_t>(c);
  return 1;
}

void appendWide(std::wstring& out, char32_t c) {
  wchar_t units[2];
  out.append(units, encodeWide(c, units));
}

bool toWide(std::string_view utf8, std::wstring& out) {
  return systemToWide(utf8, out) || recode(utf8, out, decodeOne, appendWide);
}

bool toUtf8(std::wstring_view wide, std::string& out) {
  return systemToUtf8(wide, out) || recode(wide, out, readWide, appendUtf8);
}

std::wstring widen(std::string_view utf8) {
  std::wstring out;
  toWide(utf8, out);
  return out;
}

std::string narrow(std::wstring_view wide) {
  std::string out;
  toUtf8(wide, out);
  return out;
}

}  // namespace kiv::utf
