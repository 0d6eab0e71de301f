// Address-change sockets on netlink: a NETLINK_ROUTE socket that has joined the IPv4 or
// IPv6 address group becomes readable when an address of that family is added or removed.
#include "platform/address_change.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>

namespace kiv::platform {
namespace {

std::array<std::atomic<testing::AddressChangeStep>, 2> failingStep{
    testing::AddressChangeStep::kNone, testing::AddressChangeStep::kNone};

bool injectedFailure(AddressFamily family, testing::AddressChangeStep step) {
  if (failingStep[static_cast<int>(family)].load() != step) return false;
  errno = EPERM;
  return true;
}

}  // namespace

std::unique_ptr<AddressChangeSocket> AddressChangeSocket::open(AddressFamily family) {
  if (injectedFailure(family, testing::AddressChangeStep::kOpen)) return nullptr;
  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return nullptr;
  std::unique_ptr<AddressChangeSocket> socket(new AddressChangeSocket(family, fd));
  socket->unwaitable_ =
      failingStep[static_cast<int>(family)].load() == testing::AddressChangeStep::kWait;
  return socket;
}

AddressChangeSocket::~AddressChangeSocket() { ::close(fd_); }

bool AddressChangeSocket::setNonBlocking() {
  if (injectedFailure(family_, testing::AddressChangeStep::kNonBlocking)) return false;
  const int flags = ::fcntl(fd_, F_GETFL);
  return flags >= 0 && ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool AddressChangeSocket::requestNotification() {
  if (injectedFailure(family_, testing::AddressChangeStep::kRequest)) return false;
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  return ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

bool AddressChangeSocket::joinChangeGroup() {
  if (injectedFailure(family_, testing::AddressChangeStep::kJoin)) return false;
  // The same groups as RTMGRP_IPV4_IFADDR and RTMGRP_IPV6_IFADDR, joined by number.
  const int group =
      family_ == AddressFamily::kIPv4 ? RTNLGRP_IPV4_IFADDR : RTNLGRP_IPV6_IFADDR;
  return ::setsockopt(fd_, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group) == 0;
}

bool AddressChangeSocket::rearm() {
  std::array<char, 16384> buffer;
  bool pending = false;
  for (;;) {
    const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (got > 0) {
      pending = true;
      continue;
    }
    if (got == 0) break;
    if (errno == EINTR) continue;
    // The kernel dropped notifications because the queue was full: changes happened,
    // and whatever is still queued gets drained as well.
    if (errno == ENOBUFS) {
      pending = true;
      continue;
    }
    break;  // EAGAIN: empty; anything else: nothing more to read now
  }
  return pending;
}

namespace testing {
void failAddressChangeStep(AddressFamily family, AddressChangeStep step) {
  failingStep[static_cast<int>(family)].store(step);
}
}  // namespace testing

}  // namespace kiv::platform
