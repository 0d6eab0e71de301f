// The machine's local addresses as numeric texts, from two queries: the newer one covers
// both families (link-local IPv6 reads fe80::...%<interface index>), the older one IPv4
// only and exists as a fallback.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kiv::platform {

// Every IPv4 and IPv6 unicast address, adapter by adapter in the system's interface order,
// each adapter's addresses in their own order; an address whose text cannot be made is an
// empty text. Nothing when the query fails.
std::optional<std::vector<std::string>> queryAdapterAddresses();
// IPv4 addresses of the interfaces that have one, in the system's order, unfiltered.
// Nothing when the query fails or the list does not fit even after one retry with the
// size the system asked for.
std::optional<std::vector<std::string>> queryIPv4AdapterAddresses();
// The addresses of queryAdapterAddresses, or of queryIPv4AdapterAddresses when that
// yields nothing; nothing only when both fail.
std::optional<std::vector<std::string>> queryLocalAddresses();
// The addresses of queryLocalAddresses that can be used: without the IPv6 ones whose
// duplicate-address detection still runs or has failed (deprecated ones stay: they still
// serve the connections that use them). A test's chosen adapter answer counts as usable.
std::optional<std::vector<std::string>> queryUsableAddresses();

namespace testing {
// A chosen answer for a query: `failed` makes it fail, otherwise it yields `addresses`.
struct AddressQueryAnswer {
  bool failed = false;
  std::vector<std::string> addresses;
};
// Nothing restores the real query.
void setAdapterAddressesAnswer(std::optional<AddressQueryAnswer> answer);
void setIPv4AdapterAddressesAnswer(std::optional<AddressQueryAnswer> answer);
// Starting buffer of the IPv4 query in bytes (4096 unless changed), so a test can make
// the first call too small.
void setIPv4QueryBufferSize(std::size_t bytes);
}  // namespace testing

}  // namespace kiv::platform
