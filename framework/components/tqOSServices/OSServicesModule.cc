// Exports of the tqOSServices module: thread control (version 2), terminal services
// (version 2), the session enumerator (version 1) and the process enumerator (version 1).
#include "../ModuleInit.h"
#include "CTQOSProcessEnum.h"
#include "CTQOSTSEnum.h"
#include "CTQOSTerminalServices.h"
#include "CTQOSThreadControl.h"

namespace {

template <class T>
ITQImpl* createIfVersion(const char* className, int version) {
  if (version == T::kVersion) return new T();
  TQUtilities_TraceErrorW(L"tqOSServices", L"%s: %hs version %d requested, only %d is supported",
                          L"TQCreateInstance", className, version, T::kVersion);
  return nullptr;
}

}  // namespace

extern "C" TQ_API ITQImpl* TQCreateInstance(const char* className, int version) {
  using kiv::components::isClass;
  if (isClass(className, "TQOSThreadControl")) return createIfVersion<CTQOSThreadControl>(className, version);
  if (isClass(className, "TQOSTerminalServices")) return createIfVersion<CTQOSTerminalServices>(className, version);
  if (isClass(className, "TQOSTSEnum")) return createIfVersion<CTQOSTSEnum>(className, version);
  if (isClass(className, "TQOSProcessEnum")) return createIfVersion<CTQOSProcessEnum>(className, version);
  TQUtilities_TraceErrorW(L"tqOSServices", L"%s: doesn't support %hs", L"TQCreateInstance",
                          className ? className : "(null)");
  return nullptr;
}
