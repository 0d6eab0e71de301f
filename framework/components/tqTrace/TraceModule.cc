// Exports of the tqTrace module: the trace object by class name "ITQTrace", version 2.
#include "../ModuleInit.h"
#include "CTQTrace.h"

extern "C" TQ_API ITQImpl* TQCreateInstance(const char* className, int version) {
  using namespace kiv::components;
  if (isClass(className, "ITQTrace")) return createIfVersion<CTQTrace>(L"tqTrace", className, version);
  return unsupportedClass(L"tqTrace", className);
}
