// Exports of the tqTrace module: the trace object by class name "ITQTrace", version 2.
#include "../ModuleInit.h"
#include "CTQTrace.h"

extern "C" TQ_API ITQImpl* TQCreateInstance(const char* className, int version) {
  if (!kiv::components::isClass(className, "ITQTrace")) {
    TQUtilities_TraceErrorW(L"tqTrace", L"%s: doesn't support %hs", L"TQCreateInstance",
                            className ? className : "(null)");
    return nullptr;
  }
  if (version != CTQTrace::kVersion) {
    TQUtilities_TraceErrorW(L"tqTrace", L"%s: %hs version %d requested, only %d is supported",
                            L"TQCreateInstance", className, version, CTQTrace::kVersion);
    return nullptr;
  }
  return new CTQTrace();
}
