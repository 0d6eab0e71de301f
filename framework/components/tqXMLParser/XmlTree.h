// Walks over a pugixml tree in document order without recursion, so that no document,
// however deep, can exhaust the stack.
#pragma once

#include <pugixml.hpp>

namespace kiv::xml {

// The node after `node` in document order, staying below `root`; empty at the end.
pugi::xml_node nextBelow(pugi::xml_node node, pugi::xml_node root);

// The first element named `name` below `root` (not `root` itself), in document order.
pugi::xml_node findElement(pugi::xml_node root, const char* name);

// True when elements nest deeper than `limit` levels (an element directly below the
// document node is level 1).
bool deeperThan(const pugi::xml_document& document, int limit);

// The text directly inside an element: its text and CDATA children, joined.
std::string elementText(pugi::xml_node element);

}  // namespace kiv::xml
