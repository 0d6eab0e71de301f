// The wide string value class.
#include <cstring>
#include <cwchar>
#include <string_view>
#include <type_traits>

#include "TQString.h"
#include "case_fold.h"
#include "formatter.h"
#include "framework/tqUtilities/code_page.h"
#include "framework/tqUtilities/path_separator.h"
#include "platform/utf8.h"

namespace {

// The part of text[0..length) before its first NUL; null is the empty text.
std::wstring_view bounded(const wchar_t* text, std::size_t length) {
  if (text == nullptr) return {};
  if (length == TQStringW::npos) return text;
  return {text, wcsnlen(text, length)};
}

std::string_view bounded(const char* text, std::size_t length) {
  if (text == nullptr) return {};
  if (length == TQStringW::npos) return text;
  return {text, strnlen(text, length)};
}

// The upper case of the character at `at`, a surrogate pair being one character; `at` moves
// past it. A unit that is no character (a lone surrogate) is its own upper case, so that
// case handling never turns text into U+FFFD nor makes two such texts equal.
char32_t upperAt(std::wstring_view text, std::size_t& at) {
  std::size_t used = 0;
  bool valid = true;
  const char32_t c = kiv::utf::readWide(text.data() + at, text.size() - at, &used, &valid);
  const char32_t unit = static_cast<std::make_unsigned_t<wchar_t>>(text[at]);
  at += used;
  return valid ? kiv::text::upper(c) : unit;
}

}  // namespace

TQStringW::TQStringW(const wchar_t* text) : text_(text ? text : L"") {}

TQStringW& TQStringW::operator=(const wchar_t* text) {
  text_ = text ? text : L"";
  return *this;
}

TQStringW& TQStringW::operator+=(const wchar_t* text) {
  if (text != nullptr) text_ += text;
  return *this;
}

TQStringW& TQStringW::operator+=(const TQStringW& other) {
  text_ += other.text_;
  return *this;
}

TQStringW& TQStringW::format(const wchar_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  formatv(fmt, args);
  va_end(args);
  return *this;
}

TQStringW& TQStringW::formatv(const wchar_t* fmt, va_list args) {
  text_.clear();
  kiv::format::appendFormatted(text_, fmt, args);
  return *this;
}

bool TQStringW::assign_mbcs(const char* text, std::size_t length) {
  return kiv::codepage::toWide(bounded(text, length), text_);
}

bool TQStringW::assign_utf8(const char* text, std::size_t length) {
  return kiv::utf::toWide(bounded(text, length), text_);
}

void TQStringW::assign_unicode(const wchar_t* text, std::size_t length) {
  text_ = bounded(text, length);
}

void TQStringW::toupper() {
  std::wstring upper;
  upper.reserve(text_.size());
  for (std::size_t at = 0; at < text_.size();) kiv::utf::appendWide(upper, upperAt(text_, at));
  text_ = std::move(upper);
}

TQStringW TQStringW::substr(std::size_t pos, std::size_t length) const {
  TQStringW result;
  if (pos < text_.size()) result.text_ = text_.substr(pos, length);
  return result;
}

TQStringW TQStringW::left(std::size_t count) const { return substr(0, count); }

std::size_t TQStringW::find(const wchar_t* text, std::size_t from) const {
  if (text == nullptr) return npos;
  return text_.find(text, from);
}

int TQStringW::comparei(const wchar_t* other) const {
  const std::wstring_view mine = text_;
  const std::wstring_view theirs = other != nullptr ? other : L"";
  std::size_t i = 0, j = 0;
  while (i < mine.size() && j < theirs.size()) {
    const char32_t a = upperAt(mine, i);
    const char32_t b = upperAt(theirs, j);
    if (a != b) return a < b ? -1 : 1;
  }
  if (i == mine.size() && j == theirs.size()) return 0;
  return i == mine.size() ? -1 : 1;
}

void TQStringW::add_path_separator() {
  if (text_.empty() || !kiv::path::isSeparator(text_.back())) text_ += static_cast<wchar_t>(kiv::path::kSeparator);
}

TQStringW operator+(const TQStringW& a, const TQStringW& b) {
  TQStringW result(a);
  result += b;
  return result;
}

TQStringW operator+(const TQStringW& a, const wchar_t* b) {
  TQStringW result(a);
  result += b;
  return result;
}
