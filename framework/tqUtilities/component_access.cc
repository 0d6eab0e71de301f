// Components that tqUtilities hands out from other modules: the trace object and the
// terminal-services object. Each object carries one load of its module, which the last
// release gives back.
#include <string>

#include "ITQImpl.h"
#include "ITQTrace.h"
#include "TQOSServices.h"
#include "tqUtilities.h"

namespace {

// Creates className from module with the given version; null when either is missing.
ITQImpl* createFrom(const wchar_t* module, const char* className, int version) {
  HTQMODULE handle = TQFactory_LoadExW(module, 1);
  if (handle == nullptr) return nullptr;
  ITQImpl* object = TQFactory_CreateInstanceExW(handle, className, version, nullptr, 1);
  if (object == nullptr) TQFactory_Unload(handle);
  return object;
}

constexpr int kTraceVersion = 2;
constexpr int kTerminalServicesVersion = 2;

}  // namespace

extern "C" {

// Any version up to the one the trace object implements will do; -1 asks for any.
void TQUtilities_GetTracerEx(ITQTrace** out, int version) {
  if (out == nullptr) return;
  *out = nullptr;
  if (version > kTraceVersion) return;
  *out = static_cast<ITQTrace*>(createFrom(L"tqTrace", "ITQTrace", kTraceVersion));
}

void TQUtilities_GetOSTerminalServicesEx(TQOSTerminalServices** out, int version) {
  if (out == nullptr) return;
  *out = nullptr;
  const int wanted = version == -1 ? kTerminalServicesVersion : version;
  *out = static_cast<TQOSTerminalServices*>(createFrom(L"tqOSServices", "TQOSTerminalServices", wanted));
}

}  // extern "C"
