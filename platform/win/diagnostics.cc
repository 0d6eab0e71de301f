// Once-per-process problem reports, routed to an installable sink; without one they go to
// the standard error stream, or to the debugger output where the process has no console.
#include "platform/diagnostics.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>

#include "platform/utf8.h"

namespace kiv::platform {
namespace {

std::atomic<void (*)(const char*)> problemSink{nullptr};

// True the first time `text` is seen. Never destroyed, so that problems met while the
// process exits (in other objects' destructors) can still be reported.
bool firstReport(const std::string& text) {
  static auto* lock = new std::mutex;
  static auto* seen = new std::set<std::string>;
  std::lock_guard guard(*lock);
  return seen->insert(text).second;
}

bool hasStandardError() {
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  return error != nullptr && error != INVALID_HANDLE_VALUE;
}

}  // namespace

void reportProblem(const std::string& text) {
  if (!firstReport(text)) return;
  // Called without any lock held: the sink may itself call back into this layer.
  if (auto sink = problemSink.load()) {
    sink(text.c_str());
  } else if (hasStandardError()) {
    std::fprintf(stderr, "kiv: %s\n", text.c_str());
  } else {
    OutputDebugStringW((L"kiv: " + kiv::utf::widen(text) + L"\n").c_str());
  }
}

void setProblemSink(void (*sink)(const char* text)) { problemSink.store(sink); }

}  // namespace kiv::platform
