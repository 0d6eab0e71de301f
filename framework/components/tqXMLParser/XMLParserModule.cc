// Exports of the tqXMLParser module: the parser by class name "ITQXMLParser", version 4.
#include "../ModuleInit.h"
#include "CTQXMLParser.h"

extern "C" TQ_API ITQImpl* TQCreateInstance(const char* className, int version) {
  using namespace kiv::components;
  if (isClass(className, "ITQXMLParser")) return createIfVersion<CTQXMLParser>(L"tqXMLParser", className, version);
  return unsupportedClass(L"tqXMLParser", className);
}
