// Conversions of stored values for their readers.
#include "framework/tqUtilities/config_value_reads.h"

#include <charconv>
#include <cstring>
#include <string>

#include "ITQConfig.h"
#include "framework/tqUtilities/config_text.h"

namespace kiv::config {
namespace {

std::string numberText(int32_t number) {
  char digits[16];
  auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  return std::string(digits, end);
}

}  // namespace

int readStringW(const ValueView& value, wchar_t* buffer, uint32_t* size) {
  const std::string number = value.isNumber ? numberText(value.number) : std::string();
  const std::string_view text = value.isNumber ? std::string_view(number) : value.text;
  const std::size_t length = wideLength(text);
  if (buffer == nullptr || *size < length + 1) {
    *size = static_cast<uint32_t>(length + 1);
    return kTQConfigMoreData;
  }
  widenInto(text, buffer);
  buffer[length] = L'\0';
  *size = static_cast<uint32_t>(length);
  return 0;
}

int readStringA(const ValueView& value, char* buffer, uint32_t* size) {
  const std::string number = value.isNumber ? numberText(value.number) : std::string();
  const std::string_view text = value.isNumber ? std::string_view(number) : value.text;
  if (buffer == nullptr || *size < text.size() + 1) {
    *size = static_cast<uint32_t>(text.size() + 1);
    return kTQConfigMoreData;
  }
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  *size = static_cast<uint32_t>(text.size());
  return 0;
}

int readNumber(const ValueView& value, int32_t* number) {
  const std::optional<int32_t> parsed = value.isNumber ? value.number : parseNumber(value.text);
  if (!parsed) return kTQConfigNotFound;
  *number = *parsed;
  return 0;
}

}  // namespace kiv::config
