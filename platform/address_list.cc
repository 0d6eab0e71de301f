// The local address queries as callers see them: a test's chosen answer when one is set,
// otherwise the system's.
#include "platform/address_list.h"

#include <mutex>
#include <utility>

#include "platform/address_list_system.h"

namespace kiv::platform {
namespace {

struct Overrides {
  std::mutex lock;
  std::optional<testing::AddressQueryAnswer> adapterAddresses;
  std::optional<testing::AddressQueryAnswer> ipv4Addresses;
  std::size_t ipv4BufferSize = 4096;
};

Overrides& overrides() {
  static Overrides instance;
  return instance;
}

// The chosen answer for a query, if a test has set one.
std::optional<std::optional<std::vector<std::string>>> overridden(
    const std::optional<testing::AddressQueryAnswer>& answer) {
  if (!answer) return std::nullopt;
  if (answer->failed) return std::optional<std::vector<std::string>>();
  return std::optional<std::vector<std::string>>(answer->addresses);
}

}  // namespace

std::optional<std::vector<std::string>> queryAdapterAddresses() {
  {
    std::lock_guard guard(overrides().lock);
    if (auto answer = overridden(overrides().adapterAddresses)) return *answer;
  }
  return systemAdapterAddresses();
}

std::optional<std::vector<std::string>> queryLocalAddresses() {
  auto addresses = queryAdapterAddresses();
  if (addresses && !addresses->empty()) return addresses;
  auto ipv4 = queryIPv4AdapterAddresses();
  if (ipv4 && !ipv4->empty()) return ipv4;
  // Nothing either way: an empty answer from one is still an answer, the failure of both
  // is not.
  return addresses ? addresses : ipv4;
}

std::optional<std::vector<std::string>> queryUsableAddresses() {
  bool chosen = false;
  {
    std::lock_guard guard(overrides().lock);
    chosen = overrides().adapterAddresses.has_value();
  }
  auto addresses = queryLocalAddresses();
  if (!addresses || chosen) return addresses;
  // Asked after the list: an address that was tentative when listed and usable by now
  // counts as usable, which it is; one added after the list is not in it. Either way the
  // kernel announces the end of detection, so the next look sees the address as it is.
  auto unusable = systemUnusableAddresses();
  if (!unusable) return addresses;
  // Another adapter may hold the same address and use it (the peer whose copy made
  // detection fail here): only as many copies go as are unusable.
  std::erase_if(*addresses, [&](const std::string& text) {
    const auto found = unusable->find(text);
    if (found == unusable->end()) return false;
    unusable->erase(found);
    return true;
  });
  return addresses;
}

std::optional<std::vector<std::string>> queryIPv4AdapterAddresses() {
  std::size_t initialSize;
  {
    std::lock_guard guard(overrides().lock);
    if (auto answer = overridden(overrides().ipv4Addresses)) return *answer;
    initialSize = overrides().ipv4BufferSize;
  }
  return systemIPv4AdapterAddresses(initialSize);
}

namespace testing {
void setAdapterAddressesAnswer(std::optional<AddressQueryAnswer> answer) {
  std::lock_guard guard(overrides().lock);
  overrides().adapterAddresses = std::move(answer);
}
void setIPv4AdapterAddressesAnswer(std::optional<AddressQueryAnswer> answer) {
  std::lock_guard guard(overrides().lock);
  overrides().ipv4Addresses = std::move(answer);
}
void setIPv4QueryBufferSize(std::size_t bytes) {
  std::lock_guard guard(overrides().lock);
  overrides().ipv4BufferSize = bytes;
}
}  // namespace testing

}  // namespace kiv::platform
