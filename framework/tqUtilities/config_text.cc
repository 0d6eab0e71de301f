// UTF-8 and wide text, case folding and number text for the configuration store.
#include "framework/tqUtilities/config_text.h"

#include <locale.h>
#include <wctype.h>

#include <charconv>

namespace kiv::config {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool validCodePoint(char32_t c) { return c < 0x110000 && (c < 0xD800 || c > 0xDFFF); }

void appendUtf8(std::string& out, char32_t c) {
  if (!validCodePoint(c)) c = kReplacement;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one character at `i` and advances past it; a malformed sequence yields U+FFFD
// and advances by one byte, so decoding always makes progress.
char32_t decodeUtf8(std::string_view s, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int extra = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : -1;
  if (lead >= 0xF5) extra = -1;
  if (extra < 0 || i + extra >= s.size()) {
    ++i;
    return kReplacement;
  }
  char32_t c = lead & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const auto next = static_cast<unsigned char>(s[i + k]);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    c = (c << 6) | (next & 0x3F);
  }
  static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (c < kMinimum[extra] || !validCodePoint(c)) {
    ++i;
    return kReplacement;
  }
  i += extra + 1;
  return c;
}

locale_t utf8Locale() {
  static const locale_t locale = [] {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      if (locale_t l = newlocale(LC_CTYPE_MASK, name, nullptr)) return l;
    }
    return locale_t{};
  }();
  return locale;
}

wchar_t foldChar(wchar_t c) {
  if (c < 0x80) return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c;
  const locale_t locale = utf8Locale();
  if (locale == nullptr) return c;
  // Upper then lower, so that letters with several lower forms (final sigma) meet.
  return static_cast<wchar_t>(towlower_l(towupper_l(static_cast<wint_t>(c), locale), locale));
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

std::string toUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) appendUtf8(out, static_cast<char32_t>(c));
  return out;
}

std::wstring toWide(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) out.push_back(static_cast<wchar_t>(decodeUtf8(utf8, i)));
  return out;
}

std::size_t wideLength(std::string_view utf8) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < utf8.size(); ++count) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      ++i;
    } else {
      decodeUtf8(utf8, i);
    }
  }
  return count;
}

void widenInto(std::string_view utf8, wchar_t* out) {
  for (std::size_t i = 0; i < utf8.size();) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    *out++ = byte < 0x80 ? static_cast<wchar_t>(utf8[i++]) : static_cast<wchar_t>(decodeUtf8(utf8, i));
  }
}

void foldInto(std::wstring_view name, std::wstring& out) {
  out.resize(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) out[i] = foldChar(name[i]);
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
  for (; i < name.size(); ++i) appendUtf8(out, static_cast<char32_t>(foldChar(name[i])));
}

std::wstring fold(std::wstring_view name) {
  std::wstring out;
  foldInto(name, out);
  return out;
}

std::optional<int32_t> parseNumber(std::string_view text) { return parseDigits(text); }
std::optional<int32_t> parseNumber(std::wstring_view text) { return parseDigits(text); }

}  // namespace kiv::config
