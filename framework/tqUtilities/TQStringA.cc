// The narrow string value class; its text is UTF-8.
#include <cstring>
#include <cwchar>

#include "TQString.h"
#include "formatter.h"
#include "framework/tqUtilities/code_page.h"
#include "framework/tqUtilities/path_separator.h"

TQStringA::TQStringA(const char* text) : text_(text ? text : "") {}

TQStringA& TQStringA::operator=(const char* text) {
  text_ = text ? text : "";
  return *this;
}

TQStringA& TQStringA::operator+=(const char* text) {
  if (text != nullptr) text_ += text;
  return *this;
}

TQStringA& TQStringA::format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  formatv(fmt, args);
  va_end(args);
  return *this;
}

TQStringA& TQStringA::formatv(const char* fmt, va_list args) {
  text_.clear();
  kiv::format::appendFormatted(text_, fmt, args);
  return *this;
}

bool TQStringA::assign_unicode(const wchar_t* text, std::size_t length) {
  if (text == nullptr) {
    text_.clear();
    return true;
  }
  const std::wstring_view view = length == npos ? std::wstring_view(text)
                                                : std::wstring_view(text, wcsnlen(text, length));
  return kiv::codepage::toNarrow(view, text_);
}

// Compared as characters, so that non-ASCII letters fold the same way as in wide text.
int TQStringA::comparei(const char* other) const {
  std::wstring mine, theirs;
  kiv::codepage::toWide(text_, mine);
  kiv::codepage::toWide(other ? other : "", theirs);
  return TQStringW(mine.c_str()).comparei(theirs.c_str());
}

// Decided on the last character, not the last byte: in the double-byte code pages of
// Windows (932, 936, 949, 950) the second byte of a character can be 0x5C, a backslash.
void TQStringA::add_path_separator() {
  std::wstring wide;
  kiv::codepage::toWide(text_, wide);
  if (wide.empty() || !kiv::path::isSeparator(wide.back())) text_ += kiv::path::kSeparator;
}
