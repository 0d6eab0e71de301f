// Exports of the tqXMLParser module: the parser by class name "ITQXMLParser", version 4.
#include "../ModuleInit.h"
#include "CTQXMLParser.h"

extern "C" TQ_API ITQImpl* TQCreateInstance(const char* className, int version) {
  if (!kiv::components::isClass(className, "ITQXMLParser")) {
    TQUtilities_TraceErrorW(L"tqXMLParser", L"%s: doesn't support %hs", L"TQCreateInstance",
                            className ? className : "(null)");
    return nullptr;
  }
  if (version != CTQXMLParser::kVersion) {
    TQUtilities_TraceErrorW(L"tqXMLParser", L"%s: %hs version %d requested, only %d is supported",
                            L"TQCreateInstance", className, version, CTQXMLParser::kVersion);
    return nullptr;
  }
  return new CTQXMLParser();
}
