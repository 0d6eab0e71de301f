// The exported trace functions: each formats its text with the framework formatter and
// writes one line through the process's trace logger.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "formatter.h"
#include "platform/diagnostics.h"
#include "platform/last_error.h"
#include "tqUtilities.h"
#include "trace_logger.h"
#include "platform/utf8.h"

using kiv::trace::Kind;

namespace {

void writeFormatted(const wchar_t* source, Kind kind, int level, const wchar_t* fmt, va_list args) {
  kiv::trace::writeLine(source, kind, level, kiv::format::formatted(fmt, args));
}

bool levelWanted(int level) { return level <= kiv::trace::configuredLevel(); }

// Platform problems (a damaged registry file, a bad setting) become error traces. A problem
// met while a trace is being set up goes to stderr instead of coming back here.
thread_local bool inProblemSink = false;

void problemSink(const char* text) {
  if (inProblemSink) {
    std::fprintf(stderr, "kiv: %s\n", text);
    return;
  }
  inProblemSink = true;
  kiv::trace::writeLine(L"platform", Kind::Error, 1, kiv::utf::widen(text ? text : ""));
  inProblemSink = false;
}

struct ProblemSinkInstaller {
  ProblemSinkInstaller() { kiv::platform::setProblemSink(&problemSink); }
  ~ProblemSinkInstaller() { kiv::platform::setProblemSink(nullptr); }
};
const ProblemSinkInstaller installer;

}  // namespace

extern "C" {

void TQUtilities_TraceW(const wchar_t* source, const wchar_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  writeFormatted(source, Kind::Plain, 0, fmt, args);
  va_end(args);
}

void TQUtilities_TraceExW(const wchar_t* source, int level, const wchar_t* fmt, ...) {
  if (!levelWanted(level)) return;
  va_list args;
  va_start(args, fmt);
  writeFormatted(source, Kind::Levelled, level, fmt, args);
  va_end(args);
}

void TQUtilities_TraceErrorW(const wchar_t* source, const wchar_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  writeFormatted(source, Kind::Error, 1, fmt, args);
  va_end(args);
}

void TQUtilities_TraceDetailW(int, const wchar_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  writeFormatted(nullptr, Kind::Detail, 4, fmt, args);
  va_end(args);
}

void TQUtilities_TraceLastSystemErrorW(const wchar_t* source, const wchar_t* message,
                                       const wchar_t* detail, int) {
  // The system's last error (errno, or GetLastError on Windows), read before anything
  // here can change it and given back afterwards.
  const int error = kiv::platform::lastError();
  std::wstring text = message ? message : L"";
  if (detail != nullptr && detail[0] != 0) text += std::wstring(L" (") + detail + L")";
  text += L": " + kiv::platform::errorText(error) + L" (errno " + std::to_wstring(error) + L")";
  kiv::trace::writeLine(source, Kind::Error, 1, text);
  kiv::platform::setLastError(error);
}

void TQUtilities_TraceFuncEntryW(const wchar_t* function) {
  if (!levelWanted(4)) return;
  kiv::trace::writeLine(nullptr, Kind::Levelled, 4, std::wstring(L"entering ") + (function ? function : L"?"));
}

int TQUtilities_TraceFuncExitIntW(const wchar_t* function, int result) {
  if (levelWanted(4)) {
    kiv::trace::writeLine(nullptr, Kind::Levelled, 4,
                          std::wstring(L"leaving ") + (function ? function : L"?") + L" result " +
                              std::to_wstring(result));
  }
  return result;
}

int TQUtilities_GetTraceLevel() { return kiv::trace::configuredLevel(); }

void TQUtilities_FlushTrace() { kiv::trace::flush(); }

}  // extern "C"
