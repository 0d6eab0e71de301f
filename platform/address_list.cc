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
