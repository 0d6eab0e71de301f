// Local address queries through the IP Helper library, loaded by name for each query:
// GetAdaptersAddresses for both families with numeric getnameinfo texts, and the older
// IPv4-only GetAdaptersInfo with its size retry.
#include "platform/address_list_system.h"

#include "platform/win/unique_handle.h"

#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>

namespace kiv::platform {
namespace {

using GetAdaptersAddressesFunction = ULONG(WINAPI*)(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES,
                                                    PULONG);
using GetAdaptersInfoFunction = DWORD(WINAPI*)(PIP_ADAPTER_INFO, PULONG);

constexpr ULONG kAddressFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                                GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;

// A buffer of `bytes` aligned for the records the queries write into it.
class RecordBuffer {
 public:
  explicit RecordBuffer(std::size_t bytes) : words_((std::max<std::size_t>(bytes, 1) + 7) / 8) {}
  template <typename Record>
  Record* as() {
    return reinterpret_cast<Record*>(words_.data());
  }

 private:
  std::vector<std::uint64_t> words_;
};

win::UniqueLibrary loadIpHelper() { return win::UniqueLibrary(LoadLibraryW(L"Iphlpapi.dll")); }

// The numeric text of an address as getnameinfo writes it with NI_NUMERICHOST; a scoped
// IPv6 address ends in "%" and its zone number. The zone is appended here from the address
// itself, as Windows writes it, since some resolvers name the interface instead. Empty
// when the conversion fails.
std::string numericText(const SOCKET_ADDRESS& address) {
  char host[NI_MAXHOST] = {};
  if (address.lpSockaddr->sa_family != AF_INET6) {
    if (getnameinfo(address.lpSockaddr, sizeof(sockaddr_in), host, sizeof host, nullptr, 0,
                    NI_NUMERICHOST) != 0) {
      return {};
    }
    return host;
  }
  sockaddr_in6 unscoped = *reinterpret_cast<const sockaddr_in6*>(address.lpSockaddr);
  const ULONG zone = unscoped.sin6_scope_id;
  unscoped.sin6_scope_id = 0;
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&unscoped), sizeof unscoped, host,
                  sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) {
    return {};
  }
  std::string text = host;
  if (zone != 0) text += "%" + std::to_string(zone);
  return text;
}

std::vector<std::string> unicastTexts(IP_ADAPTER_ADDRESSES* adapters) {
  std::vector<std::string> texts;
  for (auto* adapter = adapters; adapter != nullptr; adapter = adapter->Next) {
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const SOCKET_ADDRESS& address = unicast->Address;
      if (address.lpSockaddr == nullptr) continue;
      const int family = address.lpSockaddr->sa_family;
      if (family != AF_INET && family != AF_INET6) continue;
      texts.push_back(numericText(address));
    }
  }
  return texts;
}

// The adapter records of one GetAdaptersAddresses query: one call to learn the size and
// one to fill a buffer of exactly that size.
std::optional<RecordBuffer> adapterRecords() {
  const win::UniqueLibrary library = loadIpHelper();
  const auto query =
      win::procAddress<GetAdaptersAddressesFunction>(library.get(), "GetAdaptersAddresses");
  if (query == nullptr) return std::nullopt;
  ULONG size = 0;
  if (query(AF_UNSPEC, kAddressFlags, nullptr, nullptr, &size) != ERROR_BUFFER_OVERFLOW ||
      size == 0) {
    return std::nullopt;
  }
  RecordBuffer buffer(size);
  if (query(AF_UNSPEC, kAddressFlags, nullptr, buffer.as<IP_ADAPTER_ADDRESSES>(), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return buffer;
}

std::vector<std::string> ipv4Texts(IP_ADAPTER_INFO* adapters) {
  std::vector<std::string> texts;
  for (auto* adapter = adapters; adapter != nullptr; adapter = adapter->Next) {
    for (auto* entry = &adapter->IpAddressList; entry != nullptr; entry = entry->Next) {
      texts.emplace_back(entry->IpAddress.String);
    }
  }
  return texts;
}

}  // namespace

std::optional<std::vector<std::string>> systemAdapterAddresses() {
  auto buffer = adapterRecords();
  if (!buffer) return std::nullopt;
  return unicastTexts(buffer->as<IP_ADAPTER_ADDRESSES>());
}

std::optional<std::multiset<std::string>> systemUnusableAddresses() {
  auto buffer = adapterRecords();
  if (!buffer) return std::nullopt;
  std::multiset<std::string> unusable;
  for (auto* adapter = buffer->as<IP_ADAPTER_ADDRESSES>(); adapter != nullptr; adapter = adapter->Next) {
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
      const SOCKET_ADDRESS& address = unicast->Address;
      if (address.lpSockaddr == nullptr || address.lpSockaddr->sa_family != AF_INET6) continue;
      // Preferred and deprecated addresses work; tentative, duplicate and invalid ones do not.
      if (unicast->DadState != IpDadStatePreferred && unicast->DadState != IpDadStateDeprecated) {
        unusable.insert(numericText(address));
      }
    }
  }
  return unusable;
}

std::optional<std::vector<std::string>> systemIPv4AdapterAddresses(std::size_t initialSize) {
  const win::UniqueLibrary library = loadIpHelper();
  const auto query = win::procAddress<GetAdaptersInfoFunction>(library.get(), "GetAdaptersInfo");
  if (query == nullptr) return std::nullopt;
  // One call with the starting buffer, and when that was too small one more with the size
  // the system asked for, then give up.
  ULONG size = static_cast<ULONG>(std::min<std::size_t>(initialSize, 0xFFFFFFFFu));
  for (int call = 0; call < 2; ++call) {
    RecordBuffer buffer(size);
    const DWORD result = query(buffer.as<IP_ADAPTER_INFO>(), &size);
    if (result == ERROR_SUCCESS) return ipv4Texts(buffer.as<IP_ADAPTER_INFO>());
    if (result != ERROR_BUFFER_OVERFLOW) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace kiv::platform
