// Document-order walks over a pugixml tree, all iterative.
#include "XmlTree.h"

#include <cstring>
#include <string>

namespace kiv::xml {

pugi::xml_node nextBelow(pugi::xml_node node, pugi::xml_node root) {
  if (pugi::xml_node child = node.first_child()) return child;
  while (node && node != root) {
    if (pugi::xml_node sibling = node.next_sibling()) return sibling;
    node = node.parent();
  }
  return {};
}

pugi::xml_node findElement(pugi::xml_node root, const char* name) {
  for (pugi::xml_node node = nextBelow(root, root); node; node = nextBelow(node, root)) {
    if (node.type() == pugi::node_element && std::strcmp(node.name(), name) == 0) return node;
  }
  return {};
}

bool deeperThan(const pugi::xml_document& document, int limit) {
  // Depth of the current node is tracked while descending and climbing back.
  pugi::xml_node root = document;
  pugi::xml_node node = root.first_child();
  int depth = 1;
  while (node) {
    if (node.type() == pugi::node_element && depth > limit) return true;
    if (pugi::xml_node child = node.first_child()) {
      node = child;
      ++depth;
      continue;
    }
    while (node && node != root && !node.next_sibling()) {
      node = node.parent();
      --depth;
    }
    if (!node || node == root) break;
    node = node.next_sibling();
  }
  return false;
}

std::string elementText(pugi::xml_node element) {
  std::string text;
  for (pugi::xml_node child : element.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) text += child.value();
  }
  return text;
}

}  // namespace kiv::xml
