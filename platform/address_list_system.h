// The system's two local address queries, behind the answers a test may choose instead.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kiv::platform {

// As queryAdapterAddresses, always asking the system.
std::optional<std::vector<std::string>> systemAdapterAddresses();
// As queryIPv4AdapterAddresses, starting with a buffer of `initialSize` bytes.
std::optional<std::vector<std::string>> systemIPv4AdapterAddresses(std::size_t initialSize);

}  // namespace kiv::platform
