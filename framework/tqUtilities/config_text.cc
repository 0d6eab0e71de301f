// UTF-8 and wide text, case folding and number text for the configuration store.
#include "framework/tqUtilities/config_text.h"

#include <charconv>

#include "framework/tqUtilities/case_fold.h"
#include "platform/utf8.h"

namespace kiv::config {
namespace {

// Decodes one character at `i` and advances past it; malformed input yields U+FFFD and
// always makes progress.
char32_t decodeUtf8(std::string_view s, std::size_t& i) {
  std::size_t used = 0;
  bool valid = true;
  const char32_t c = kiv::utf::decodeOne(s.data() + i, s.size() - i, &used, &valid);
  i += used;
  return c;
}

template <class Char>
std::optional<int32_t> parseDigits(std::basic_string_view<Char> text) {
  std::string ascii;
  for (Char c : text) {
    if (static_cast<uint32_t>(c) >= 0x80) return std::nullopt;
    ascii.push_back(static_cast<char>(c));
  }
  std::string_view s = ascii;
  const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
  if (hex) {
    s.remove_prefix(2);
    uint32_t value = 0;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value, 16);
    if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return static_cast<int32_t>(value);
  }
  if (s.empty() || s[0] == '+') return std::nullopt;
  int32_t value = 0;
  auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
  if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

}  // namespace

std::string toUtf8(std::wstring_view text) { return kiv::utf::narrow(text); }

std::wstring toWide(std::string_view utf8) { return kiv::utf::widen(utf8); }

// Counted and written in wide characters, so that a character beyond the basic plane takes
// the two a surrogate pair needs where wchar_t has 16 bits.
std::size_t wideLength(std::string_view utf8) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      ++i;
      ++count;
    } else {
      count += kiv::utf::wideUnits(decodeUtf8(utf8, i));
    }
  }
  return count;
}

void widenInto(std::string_view utf8, wchar_t* out) {
  for (std::size_t i = 0; i < utf8.size();) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      *out++ = static_cast<wchar_t>(utf8[i++]);
    } else {
      out += kiv::utf::encodeWide(decodeUtf8(utf8, i), out);
    }
  }
}

void foldInto(std::wstring_view name, std::wstring& out) {
  out.clear();
  out.reserve(name.size());
  kiv::utf::forEachCodePoint(name, [&](char32_t c) { kiv::utf::appendWide(out, kiv::text::fold(c)); });
}

void foldUtf8Into(std::wstring_view name, std::string& out) {
  // Names are nearly always ASCII: that part is written in place, the rest encoded.
  out.resize(name.size());
  std::size_t i = 0;
  for (; i < name.size() && static_cast<uint32_t>(name[i]) < 0x80; ++i) {
    const wchar_t c = name[i];
    out[i] = static_cast<char>(c >= L'A' && c <= L'Z' ? c + 32 : c);
  }
  out.resize(i);
  kiv::utf::forEachCodePoint(name.substr(i), [&](char32_t c) { kiv::utf::appendUtf8(out, kiv::text::fold(c)); });
}

std::wstring fold(std::wstring_view name) {
  std::wstring out;
  foldInto(name, out);
  return out;
}

std::optional<int32_t> parseNumber(std::string_view text) { return parseDigits(text); }
std::optional<int32_t> parseNumber(std::wstring_view text) { return parseDigits(text); }

}  // namespace kiv::config
