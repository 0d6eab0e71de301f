// Address snapshots from the platform's adapter query, split by family.
#include "tqNotify/notifier/AddressSnapshot.h"

#include "platform/address_list.h"

using kiv::platform::AddressFamily;

std::optional<AddressSnapshot> AddressSnapshot::take() {
  auto addresses = kiv::platform::queryAdapterAddresses();
  if (!addresses) return std::nullopt;
  AddressSnapshot snapshot;
  for (auto& text : *addresses) {
    // Only IPv6 texts hold a colon.
    const auto family =
        text.find(':') == std::string::npos ? AddressFamily::kIPv4 : AddressFamily::kIPv6;
    snapshot.byFamily_[static_cast<std::size_t>(family)].insert(std::move(text));
  }
  return snapshot;
}

bool AddressSnapshot::sameAddresses(const AddressSnapshot& other, AddressFamily family) const {
  const auto index = static_cast<std::size_t>(family);
  return byFamily_[index] == other.byFamily_[index];
}
