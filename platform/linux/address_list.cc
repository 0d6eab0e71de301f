// Local address queries: getifaddrs with numeric getnameinfo for both families, and the
// IPv4-only SIOCGIFCONF list with its size retry.
#include "platform/address_list_system.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "platform/linux/unique_fd.h"

namespace kiv::platform {
namespace {

// The numeric text of an address. glibc names the zone of a scoped IPv6 address by
// interface name; the zone here is the interface index, as NI_NUMERICSCOPE gives it
// elsewhere, so it is appended by hand.
std::string numericText(const sockaddr* address) {
  char host[NI_MAXHOST] = {};
  if (address->sa_family == AF_INET6) {
    sockaddr_in6 unscoped = *reinterpret_cast<const sockaddr_in6*>(address);
    const uint32_t zone = unscoped.sin6_scope_id;
    unscoped.sin6_scope_id = 0;
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&unscoped), sizeof unscoped, host,
                      sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) {
      return {};
    }
    std::string text = host;
    if (zone != 0) text += "%" + std::to_string(zone);
    return text;
  }
  if (::getnameinfo(address, sizeof(sockaddr_in), host, sizeof host, nullptr, 0,
                    NI_NUMERICHOST) != 0) {
    return {};
  }
  return host;
}

// The interfaces in the system's order: getifaddrs lists every link (AF_PACKET) before
// any address, in the order the kernel keeps them.
std::vector<std::string> interfaceOrder(const ifaddrs* list) {
  std::vector<std::string> names;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_PACKET &&
        entry->ifa_name != nullptr) {
      names.emplace_back(entry->ifa_name);
    }
  }
  return names;
}

// The place of an address's interface in that order. An IPv4 address may carry a label
// "eth0:1" instead of its interface's name; an interface that is not known (it appeared
// in between) goes after all known ones.
std::size_t interfaceRank(const std::vector<std::string>& interfaces, const char* name) {
  if (name == nullptr) return interfaces.size();
  const std::string label = name;
  for (const std::string& candidate : {label, label.substr(0, label.find(':'))}) {
    const auto found = std::find(interfaces.begin(), interfaces.end(), candidate);
    if (found != interfaces.end()) return static_cast<std::size_t>(found - interfaces.begin());
  }
  return interfaces.size();
}

struct IfAddrsDeleter {
  void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};

// One SIOCGIFCONF call into a buffer of `size` bytes. Gives the bytes used, and in
// *needed the size the whole list takes; nothing on failure.
std::optional<int> fillInterfaceList(int fd, std::vector<char>& buffer, int* needed) {
  ifconf request{};
  request.ifc_len = static_cast<int>(buffer.size());
  request.ifc_buf = buffer.data();
  if (::ioctl(fd, SIOCGIFCONF, &request) != 0) return std::nullopt;
  const int used = request.ifc_len;
  ifconf sizing{};
  sizing.ifc_buf = nullptr;
  if (::ioctl(fd, SIOCGIFCONF, &sizing) != 0) return std::nullopt;
  *needed = sizing.ifc_len;
  return used;
}

std::vector<std::string> interfaceAddressTexts(const std::vector<char>& buffer, int used) {
  std::vector<std::string> texts;
  const auto* entries = reinterpret_cast<const ifreq*>(buffer.data());
  const std::size_t count = static_cast<std::size_t>(used) / sizeof(ifreq);
  for (std::size_t i = 0; i < count; ++i) {
    const auto* address = reinterpret_cast<const sockaddr_in*>(&entries[i].ifr_addr);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
    texts.emplace_back(text);
  }
  return texts;
}

}  // namespace

std::optional<std::vector<std::string>> systemAdapterAddresses() {
  ifaddrs* raw = nullptr;
  if (::getifaddrs(&raw) != 0) return std::nullopt;
  std::unique_ptr<ifaddrs, IfAddrsDeleter> list(raw);
  // getifaddrs gives the addresses family by family (every IPv4 address, then every IPv6
  // one); the list goes adapter by adapter instead, in the order the interfaces come,
  // each interface keeping the order of its own addresses.
  const std::vector<std::string> interfaces = interfaceOrder(list.get());
  std::vector<std::pair<std::size_t, std::string>> ranked;
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    const int family = entry->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    ranked.emplace_back(interfaceRank(interfaces, entry->ifa_name), numericText(entry->ifa_addr));
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> texts;
  texts.reserve(ranked.size());
  for (auto& [rank, text] : ranked) texts.push_back(std::move(text));
  return texts;
}

std::optional<std::vector<std::string>> systemIPv4AdapterAddresses(std::size_t initialSize) {
  const UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket) return std::nullopt;
  // Like the adapter query it stands in for: one call with the starting buffer, and when
  // that was too small one more with the size the system asked for, then give up.
  std::vector<char> buffer(std::max<std::size_t>(initialSize, 1));
  for (int call = 0; call < 2; ++call) {
    int needed = 0;
    const auto used = fillInterfaceList(socket.get(), buffer, &needed);
    if (!used) return std::nullopt;
    if (needed <= *used) return interfaceAddressTexts(buffer, *used);
    buffer.assign(static_cast<std::size_t>(needed), 0);
  }
  return std::nullopt;
}

}  // namespace kiv::platform
