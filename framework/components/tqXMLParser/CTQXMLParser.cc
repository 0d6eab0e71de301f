// Parsing: size and encoding checks on the text, pugixml without entity expansion beyond
// the predefined ones, then the DOCTYPE and nesting checks on the tree.
#include "CTQXMLParser.h"

#include <cwchar>
#include <string>

#include "CTQXMLDocument.h"
#include "TQString.h"
#include "XmlTree.h"
#include "platform/utf8.h"

namespace {

constexpr const wchar_t* kSource = L"tqXMLParser";
constexpr const wchar_t* kFunction = L"CTQXMLParser::parse";

int refuse(const wchar_t* fmt, auto... values) {
  TQStringW line;
  line.format(fmt, values...);
  TQUtilities_TraceErrorW(kSource, L"%s: %s", kFunction, line.c_str());
  return 1;
}

bool hasDoctype(const pugi::xml_document& document) {
  for (pugi::xml_node node : document.children()) {
    if (node.type() == pugi::node_doctype) return true;
  }
  return false;
}

}  // namespace

int CTQXMLParser::parse(ITQXMLDocument** document, const wchar_t* text) {
  if (document == nullptr) return refuse(L"no place for the document");
  *document = nullptr;
  if (text == nullptr) return refuse(L"no text");

  // Every wide character takes at least one UTF-8 byte, so a long wide text is refused
  // before it is converted.
  if (std::wcslen(text) > kMaxTextBytes) return refuse(L"text longer than %u bytes", unsigned(kMaxTextBytes));
  // The parser reads UTF-8 whatever the system's code page (the ANSI one on Windows).
  std::string utf8;
  if (!kiv::utf::toUtf8(text, utf8)) return refuse(L"text holds characters that are not valid Unicode");
  if (utf8.length() > kMaxTextBytes) return refuse(L"text longer than %u bytes", unsigned(kMaxTextBytes));

  // The DOCTYPE is parsed only to be found and refused: pugixml never expands entities
  // beyond the predefined five and character references, and never fetches anything.
  pugi::xml_document tree;
  const pugi::xml_parse_result result =
      tree.load_buffer(utf8.c_str(), utf8.length(), pugi::parse_default | pugi::parse_doctype,
                       pugi::encoding_utf8);
  if (!result) {
    return refuse(L"malformed XML at byte %u: %hs", unsigned(result.offset), result.description());
  }
  if (hasDoctype(tree)) return refuse(L"document type declarations are not accepted");
  if (kiv::xml::deeperThan(tree, kMaxDepth)) return refuse(L"elements nested deeper than %d levels", kMaxDepth);

  *document = new CTQXMLDocument(std::move(tree));
  return 0;
}
