// A parsed XML document with one selected element, queried by element and attribute names.
#pragma once

#include <pugixml.hpp>

#include "../ComponentBase.h"
#include "ITQXMLParser.h"

class CTQXMLDocument final : public kiv::components::Component<ITQXMLDocument, 4> {
 public:
  // Takes over a document that the parser has already checked.
  explicit CTQXMLDocument(pugi::xml_document&& document);

  int selectElement(const wchar_t* name, int flags) override;
  int queryValue(TQStringW& out, const wchar_t* name, int a, int b) override;
  int queryShortValue(TQStringW& out, const wchar_t* name) override;

 private:
  pugi::xml_document document_;
  pugi::xml_node selected_;  // empty until selectElement finds an element
};
