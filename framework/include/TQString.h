// The framework's string value classes: TQStringW holds wide (wchar_t, UTF-32) text,
// TQStringA narrow text whose system code page is UTF-8.
#pragma once

#include <cstdarg>
#include <string>

#include "TQTypes.h"

class TQStringA;

class TQ_API TQStringW {
 public:
  // As a length: the whole string. As a position: not found.
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  TQStringW() = default;
  TQStringW(const wchar_t* text);  // null gives the empty string
  TQStringW(const TQStringW&) = default;
  TQStringW(TQStringW&&) noexcept = default;
  ~TQStringW() = default;

  TQStringW& operator=(const wchar_t* text);
  TQStringW& operator=(const TQStringW&) = default;
  TQStringW& operator=(TQStringW&&) noexcept = default;
  TQStringW& operator+=(const wchar_t* text);
  TQStringW& operator+=(const TQStringW& other);

  // Replaces the content with the formatted text (framework specifiers: %s wide,
  // %hs narrow, %T wide, %t narrow, plus %d %u %x %lx %c %p with flags, width, precision).
  TQStringW& format(const wchar_t* fmt, ...);
  TQStringW& formatv(const wchar_t* fmt, va_list args);

  // Conversions from narrow text; invalid sequences become U+FFFD and the result is false.
  bool assign_mbcs(const char* text, std::size_t length = npos);
  bool assign_utf8(const char* text, std::size_t length = npos);
  void assign_unicode(const wchar_t* text, std::size_t length = npos);

  void toupper();
  TQStringW substr(std::size_t pos, std::size_t length = npos) const;
  TQStringW left(std::size_t count) const;
  std::size_t find(const wchar_t* text, std::size_t from = 0) const;
  // 0 when equal without regard to case; negative or positive like wcscmp otherwise.
  int comparei(const wchar_t* other) const;
  int comparei(const TQStringW& other) const { return comparei(other.c_str()); }
  // Ends the text with "/" unless it already ends with one.
  void add_path_separator();

  const wchar_t* c_str() const { return text_.c_str(); }
  const wchar_t* string() const { return text_.c_str(); }
  operator const wchar_t*() const { return text_.c_str(); }
  const std::wstring& str() const { return text_; }
  std::size_t length() const { return text_.size(); }
  bool empty() const { return text_.empty(); }
  void clear() { text_.clear(); }

  friend bool operator==(const TQStringW& a, const TQStringW& b) { return a.text_ == b.text_; }
  friend bool operator==(const TQStringW& a, const wchar_t* b) { return a.text_ == (b ? b : L""); }

 private:
  std::wstring text_;
};

TQ_API TQStringW operator+(const TQStringW& a, const TQStringW& b);
TQ_API TQStringW operator+(const TQStringW& a, const wchar_t* b);

class TQ_API TQStringA {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  TQStringA() = default;
  TQStringA(const char* text);  // null gives the empty string
  TQStringA(const TQStringA&) = default;
  TQStringA(TQStringA&&) noexcept = default;
  ~TQStringA() = default;

  TQStringA& operator=(const char* text);
  TQStringA& operator=(const TQStringA&) = default;
  TQStringA& operator=(TQStringA&&) noexcept = default;
  TQStringA& operator+=(const char* text);

  // Narrow formats: %s and %hs narrow, %ls and %T wide, %t narrow.
  TQStringA& format(const char* fmt, ...);
  TQStringA& formatv(const char* fmt, va_list args);

  // Wide to the system code page (UTF-8); false when the text held invalid characters.
  bool assign_unicode(const wchar_t* text, std::size_t length = npos);
  int comparei(const char* other) const;
  void add_path_separator();

  const char* c_str() const { return text_.c_str(); }
  operator const char*() const { return text_.c_str(); }
  const std::string& str() const { return text_; }
  std::size_t length() const { return text_.size(); }
  bool empty() const { return text_.empty(); }
  void clear() { text_.clear(); }

  friend bool operator==(const TQStringA& a, const TQStringA& b) { return a.text_ == b.text_; }
  friend bool operator==(const TQStringA& a, const char* b) { return a.text_ == (b ? b : ""); }

 private:
  std::string text_;
};
