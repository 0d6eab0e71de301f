// Problems without a sink go to the standard error stream, or to the debugger output where
// the process has no console.
#include <windows.h>

#include <cstdio>

#include "platform/diagnostics_system.h"
#include "platform/utf8.h"

namespace kiv::platform {
namespace {

bool hasStandardError() {
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  return error != nullptr && error != INVALID_HANDLE_VALUE;
}

}  // namespace

void writeProblemWithoutSink(const std::string& text) {
  if (hasStandardError()) {
    std::fprintf(stderr, "kiv: %s\n", text.c_str());
  } else {
    OutputDebugStringW((L"kiv: " + kiv::utf::widen(text) + L"\n").c_str());
  }
}

}  // namespace kiv::platform
