// Exports of the tqOSServices module: thread control (version 2), terminal services
// (version 2), the session enumerator (version 1) and the process enumerator (version 1).
#include "../ModuleInit.h"
#include "CTQOSProcessEnum.h"
#include "CTQOSTSEnum.h"
#include "CTQOSTerminalServices.h"
#include "CTQOSThreadControl.h"

extern "C" TQ_API ITQImpl* TQCreateInstance(const char* className, int version) {
  using namespace kiv::components;
  constexpr const wchar_t* kModule = L"tqOSServices";
  if (isClass(className, "TQOSThreadControl")) {
    return createIfVersion<CTQOSThreadControl>(kModule, className, version);
  }
  if (isClass(className, "TQOSTerminalServices")) {
    return createIfVersion<CTQOSTerminalServices>(kModule, className, version);
  }
  if (isClass(className, "TQOSTSEnum")) return createIfVersion<CTQOSTSEnum>(kModule, className, version);
  if (isClass(className, "TQOSProcessEnum")) {
    return createIfVersion<CTQOSProcessEnum>(kModule, className, version);
  }
  return unsupportedClass(kModule, className);
}
