// The wide string value class.
#include <cwchar>

#include <cstring>
#include <cwchar>

#include "TQString.h"
#include "case_fold.h"
#include "formatter.h"
#include "framework/tqUtilities/code_page.h"
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
  for (wchar_t& c : text_) c = kiv::text::upper(c);
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
  const wchar_t* mine = text_.c_str();
  if (other == nullptr) other = L"";
  for (;; ++mine, ++other) {
    const auto a = static_cast<uint32_t>(kiv::text::upper(*mine));
    const auto b = static_cast<uint32_t>(kiv::text::upper(*other));
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
}

void TQStringW::add_path_separator() {
  if (text_.empty() || text_.back() != L'/') text_ += L'/';
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
