// Element selection and value queries on a parsed document; names and values are UTF-8
// inside, wide outside.
#include "CTQXMLDocument.h"

#include <string>

#include "TQString.h"
#include "XmlTree.h"
#include "platform/utf8.h"

namespace {

// Names the caller gives are wide; a name that cannot be converted matches nothing.
bool toUtf8(const wchar_t* name, std::string& out) {
  if (name == nullptr || *name == 0) return false;
  return kiv::utf::toUtf8(name, out);
}

}  // namespace

CTQXMLDocument::CTQXMLDocument(pugi::xml_document&& document)
    : Component(kiv::components::Origin::kHandedOut), document_(std::move(document)) {}

int CTQXMLDocument::selectElement(const wchar_t* name, int) {
  std::string key;
  if (!toUtf8(name, key)) return 1;
  pugi::xml_node found = kiv::xml::findElement(document_, key.c_str());
  if (!found) return 1;
  selected_ = found;
  return 0;
}

int CTQXMLDocument::queryValue(TQStringW& out, const wchar_t* name, int, int) {
  std::string key;
  if (!toUtf8(name, key)) return 1;
  pugi::xml_node below = selected_ ? selected_ : pugi::xml_node(document_);
  pugi::xml_node found = kiv::xml::findElement(below, key.c_str());
  if (!found) return 1;
  out.assign_utf8(kiv::xml::elementText(found).c_str());
  return 0;
}

int CTQXMLDocument::queryShortValue(TQStringW& out, const wchar_t* name) {
  std::string key;
  if (!selected_ || !toUtf8(name, key)) return 1;
  pugi::xml_attribute attribute = selected_.attribute(key.c_str());
  if (!attribute) return 1;
  out.assign_utf8(attribute.value());
  return 0;
}
