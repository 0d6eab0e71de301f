// The machine's addresses of each family at one moment, so that the IP change monitor can
// tell a notification that changed a family's addresses from one that left them as they
// were (a lifetime refresh, the end of duplicate-address detection).
#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>

#include "platform/address_change.h"

class AddressSnapshot {
 public:
  // The current addresses; nothing when they cannot be read.
  static std::optional<AddressSnapshot> take();
  // Whether both hold the same addresses of `family`, whatever their order (an address
  // that two adapters hold counts twice).
  bool sameAddresses(const AddressSnapshot& other, kiv::platform::AddressFamily family) const;

 private:
  std::array<std::multiset<std::string>, 2> byFamily_;
};
