// Decimal number texts with 32-bit results, independent of the width of long.
#include "tqNotify/notifier/NumberText.h"

#include <cwctype>
#include <limits>

namespace tqnotify {
namespace {

struct Parsed {
  bool negative = false;
  bool overflow = false;
  uint64_t magnitude = 0;
};

Parsed parse(const wchar_t* text) {
  Parsed result;
  if (text == nullptr) return result;
  while (std::iswspace(static_cast<wint_t>(*text))) ++text;
  if (*text == L'+' || *text == L'-') result.negative = *text++ == L'-';
  for (; *text >= L'0' && *text <= L'9'; ++text) {
    result.magnitude = result.magnitude * 10 + static_cast<uint64_t>(*text - L'0');
    if (result.magnitude > std::numeric_limits<uint32_t>::max()) {
      result.overflow = true;
      result.magnitude = std::numeric_limits<uint32_t>::max();
    }
  }
  return result;
}

}  // namespace

uint32_t parseUnsigned32(const wchar_t* text) {
  const Parsed number = parse(text);
  if (number.overflow) return std::numeric_limits<uint32_t>::max();
  const auto value = static_cast<uint32_t>(number.magnitude);
  return number.negative ? 0u - value : value;
}

int32_t parseInt32(const wchar_t* text) {
  const Parsed number = parse(text);
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  const int64_t value = number.negative ? -static_cast<int64_t>(number.magnitude)
                                        : static_cast<int64_t>(number.magnitude);
  if (number.overflow || value > kMax) return number.negative ? static_cast<int32_t>(kMin) : static_cast<int32_t>(kMax);
  if (value < kMin) return static_cast<int32_t>(kMin);
  return static_cast<int32_t>(value);
}

}  // namespace tqnotify
