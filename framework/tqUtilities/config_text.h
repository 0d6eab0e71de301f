// Text helpers of the configuration store: UTF-8 and wide conversion, the case folding
// that makes section and key names compare without regard to case, and number text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kiv::config {

// Invalid sequences and code points become U+FFFD; nothing is dropped.
std::string toUtf8(std::wstring_view text);
std::wstring toWide(std::string_view utf8);
// Characters that `utf8` takes once widened, without building the wide text.
std::size_t wideLength(std::string_view utf8);
// Writes the widened text to `out` (room for wideLength characters is the caller's care).
void widenInto(std::string_view utf8, wchar_t* out);

// The folded form of a name: every character mapped to one case, so that "URI", "uri"
// and "Uri" fold alike, and so do non-ASCII letters ("ÄRGER", "ärger").
std::wstring fold(std::wstring_view name);
void foldInto(std::wstring_view name, std::wstring& out);
// The folded form as UTF-8, the way the store keeps and compares names.
void foldUtf8Into(std::wstring_view name, std::string& out);

// A decimal integer ("-12") or a 0x-hexadecimal one ("0x1ff", up to 0xffffffff, read as
// the 32-bit pattern) that fits a signed 32-bit number; nothing else, not even spaces.
std::optional<int32_t> parseNumber(std::string_view text);
std::optional<int32_t> parseNumber(std::wstring_view text);

}  // namespace kiv::config
