// The system's two local address queries, behind the answers a test may choose instead.
#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kiv::platform {

// As queryAdapterAddresses, always asking the system.
std::optional<std::vector<std::string>> systemAdapterAddresses();
// As queryIPv4AdapterAddresses, starting with a buffer of `initialSize` bytes.
std::optional<std::vector<std::string>> systemIPv4AdapterAddresses(std::size_t initialSize);
// The texts, as the adapter query writes them, of the IPv6 addresses whose duplicate-address
// detection still runs or has failed, once for each adapter that holds one. Nothing when
// the system cannot say.
std::optional<std::multiset<std::string>> systemUnusableAddresses();

}  // namespace kiv::platform
