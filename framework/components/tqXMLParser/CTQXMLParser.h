// The XML parser component: turns wide text into a document, refusing what a notification
// message never is (malformed, oversized, too deeply nested, or carrying a DOCTYPE).
#pragma once

#include "../ComponentBase.h"
#include "ITQXMLParser.h"

class CTQXMLParser final : public kiv::components::Component<ITQXMLParser, 4> {
 public:
  static constexpr int kVersion = 4;
  // Largest text accepted, in UTF-8 bytes: the message bus carries nothing bigger.
  static constexpr std::size_t kMaxTextBytes = 1024 * 1024;
  // Deepest element nesting accepted; the root element is level 1.
  static constexpr int kMaxDepth = 64;

  CTQXMLParser() : Component(kiv::components::Origin::kCreated) {}

  int parse(ITQXMLDocument** document, const wchar_t* text) override;
};
