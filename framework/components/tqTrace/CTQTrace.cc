// The trace object's entries: formatting of the caller's text and the line layout
// "function (file:line): text".
#include "CTQTrace.h"

#include <cstdarg>

#include "TQString.h"

namespace {

TQStringW formatText(const wchar_t* fmt, va_list args) {
  TQStringW text;
  if (fmt != nullptr) text.formatv(fmt, args);
  return text;
}

}  // namespace

int CTQTrace::open(const wchar_t* name, int, int, void*, int) {
  std::lock_guard lock(mutex_);
  name_ = name != nullptr ? name : L"";
  return 0;
}

std::wstring CTQTrace::sourceName() {
  std::lock_guard lock(mutex_);
  return name_;
}

void CTQTrace::traceAt(int level, const char* sourceFile, int line, int, const wchar_t* function,
                       const wchar_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const TQStringW text = formatText(fmt, args);
  va_end(args);
  const std::wstring source = sourceName();
  TQUtilities_TraceExW(source.empty() ? nullptr : source.c_str(), level, L"%s (%hs:%d): %s",
                       function != nullptr ? function : L"", sourceFile != nullptr ? sourceFile : "",
                       line, text.c_str());
}

void CTQTrace::trace(const wchar_t* source, int level, const wchar_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const TQStringW text = formatText(fmt, args);
  va_end(args);
  TQUtilities_TraceExW(source, level, L"%s", text.c_str());
}

int CTQTrace::level() { return TQUtilities_GetTraceLevel(); }
