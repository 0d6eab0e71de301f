// The TQInit and TQTerminate exports and the module handle of a run-time component module.
// Included by exactly one source file of each module (the one that defines TQCreateInstance).
#pragma once

#include <atomic>

#include "ComponentBase.h"

namespace kiv::components {
namespace {
std::atomic<HTQMODULE> g_moduleHandle{nullptr};
}  // namespace

HTQMODULE moduleHandle() { return g_moduleHandle.load(std::memory_order_acquire); }

// A new T when the caller asks for the interface version it implements; otherwise a trace
// naming both versions, and null.
template <class T>
ITQImpl* createIfVersion(const wchar_t* module, const char* className, int version) {
  if (version == T::kVersion) return new T();
  TQUtilities_TraceErrorW(module, L"%s: %hs version %d requested, only %d is supported",
                          L"TQCreateInstance", className, version, T::kVersion);
  return nullptr;
}

// The answer to a class name the module does not make: a trace, and null.
inline ITQImpl* unsupportedClass(const wchar_t* module, const char* className) {
  TQUtilities_TraceErrorW(module, L"%s: doesn't support %hs", L"TQCreateInstance",
                          className ? className : "(null)");
  return nullptr;
}

}  // namespace kiv::components

// Remembers the handle of the first initialisation; a later call with another handle
// keeps the first one. 1 when a handle was given, 0 for null.
extern "C" TQ_API int TQInit(HTQMODULE handle) {
  if (handle == nullptr) return 0;
  HTQMODULE expected = nullptr;
  kiv::components::g_moduleHandle.compare_exchange_strong(expected, handle);
  return 1;
}

// The handle stays: objects still alive must keep naming their module.
extern "C" TQ_API int TQTerminate() { return 1; }
