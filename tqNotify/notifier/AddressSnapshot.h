// The machine's usable addresses at one moment, so that the IP change monitor can tell a
// notification that changed a family's addresses from one that left them as they were (a
// lifetime refresh, an address still in duplicate-address detection), and say what changed.
#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/address_change.h"

class AddressSnapshot {
 public:
  // The current usable addresses; nothing when they cannot be read.
  static std::optional<AddressSnapshot> take();
  explicit AddressSnapshot(std::vector<std::string> addresses);

  // Whether both hold the same addresses of `family`, whatever their order (an address
  // that two adapters hold counts twice).
  bool sameAddresses(const AddressSnapshot& other, kiv::platform::AddressFamily family) const;
  // In the system's order.
  const std::vector<std::string>& addresses() const { return ordered_; }
  // The addresses here that `before` did not hold (as often as it held them fewer times),
  // in this snapshot's order.
  std::vector<std::string> addedSince(const AddressSnapshot& before) const;

 private:
  std::vector<std::string> ordered_;
  std::array<std::multiset<std::string>, 2> byFamily_;
};
