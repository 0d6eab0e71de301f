// The IPv6 addresses that cannot be used yet or at all, from the kernel's own address
// flags: getifaddrs does not say whether duplicate-address detection still runs or failed.
#include "platform/address_list_system.h"

#include <arpa/inet.h>
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/linux/unique_fd.h"

namespace kiv::platform {
namespace {

bool requestDump(int fd) {
  struct {
    nlmsghdr header;
    ifaddrmsg address;
  } request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = RTM_GETADDR;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = 1;
  request.address.ifa_family = AF_INET6;
  return ::send(fd, &request, sizeof request, 0) == static_cast<ssize_t>(sizeof request);
}

// The text the adapter query gives the same address: a link-local one carries its zone.
std::string addressText(const ifaddrmsg& message, const in6_addr& address) {
  char text[INET6_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET6, &address, text, sizeof text);
  std::string result = text;
  if (IN6_IS_ADDR_LINKLOCAL(&address)) result += "%" + std::to_string(message.ifa_index);
  return result;
}

// Adds the address of one RTM_NEWADDR message when its flags say it is not usable.
void noteIfUnusable(const nlmsghdr* header, std::multiset<std::string>& unusable) {
  const auto* message = static_cast<const ifaddrmsg*>(NLMSG_DATA(header));
  uint32_t flags = message->ifa_flags;
  const in6_addr* address = nullptr;
  int length = static_cast<int>(IFA_PAYLOAD(header));
  for (const rtattr* attribute = IFA_RTA(message); RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
    // IFA_FLAGS carries all 32 bits; the message's own field only the low eight.
    if (attribute->rta_type == IFA_FLAGS && RTA_PAYLOAD(attribute) >= sizeof(uint32_t)) {
      std::memcpy(&flags, RTA_DATA(attribute), sizeof flags);
    } else if (attribute->rta_type == IFA_ADDRESS && RTA_PAYLOAD(attribute) >= sizeof(in6_addr)) {
      address = static_cast<const in6_addr*>(RTA_DATA(attribute));
    }
  }
  if (address != nullptr && (flags & (IFA_F_TENTATIVE | IFA_F_DADFAILED)) != 0) {
    unusable.insert(addressText(*message, *address));
  }
}

}  // namespace

std::optional<std::multiset<std::string>> systemUnusableAddresses() {
  const UniqueFd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
  if (!socket || !requestDump(socket.get())) return std::nullopt;
  std::multiset<std::string> unusable;
  alignas(nlmsghdr) std::array<char, 32768> buffer;
  for (;;) {
    ssize_t got;
    while ((got = ::recv(socket.get(), buffer.data(), buffer.size(), 0)) < 0 && errno == EINTR) {
    }
    if (got <= 0) return std::nullopt;
    // Unsigned, as the messages' own lengths are that the macros compare it with.
    auto left = static_cast<unsigned>(got);
    for (auto* header = reinterpret_cast<const nlmsghdr*>(buffer.data()); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
      if (header->nlmsg_type == NLMSG_DONE) return unusable;
      if (header->nlmsg_type == NLMSG_ERROR) return std::nullopt;
      if (header->nlmsg_type == RTM_NEWADDR) noteIfUnusable(header, unusable);
    }
  }
}

}  // namespace kiv::platform
