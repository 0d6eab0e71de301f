// Address snapshots from the platform's usable-address query, split by family.
#include "tqNotify/notifier/AddressSnapshot.h"

#include "platform/address_list.h"

using kiv::platform::AddressFamily;

std::optional<AddressSnapshot> AddressSnapshot::take() {
  auto addresses = kiv::platform::queryUsableAddresses();
  if (!addresses) return std::nullopt;
  return AddressSnapshot(std::move(*addresses));
}

AddressSnapshot::AddressSnapshot(std::vector<std::string> addresses) : ordered_(std::move(addresses)) {
  for (const auto& text : ordered_) {
    // Only IPv6 texts hold a colon.
    const auto family = text.find(':') == std::string::npos ? AddressFamily::kIPv4 : AddressFamily::kIPv6;
    byFamily_[static_cast<std::size_t>(family)].insert(text);
  }
}

bool AddressSnapshot::sameAddresses(const AddressSnapshot& other, AddressFamily family) const {
  const auto index = static_cast<std::size_t>(family);
  return byFamily_[index] == other.byFamily_[index];
}

std::vector<std::string> AddressSnapshot::addedSince(const AddressSnapshot& before) const {
  std::multiset<std::string> unmatched;
  for (const auto& family : before.byFamily_) unmatched.insert(family.begin(), family.end());
  std::vector<std::string> added;
  for (const auto& text : ordered_) {
    const auto found = unmatched.find(text);
    if (found == unmatched.end()) {
      added.push_back(text);
    } else {
      unmatched.erase(found);
    }
  }
  return added;
}
