// Sending and receiving the packets of a message.
#include "framework/TQSMCAPI/linux/Packets.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace kiv::bus {
namespace {

constexpr unsigned char kLast = 0;
constexpr unsigned char kMore = 1;

}  // namespace

int sendPackets(int fd, const std::string& text, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t offset = 0;
  for (;;) {
    const size_t size = std::min(kPacketText, text.size() - offset);
    unsigned char marker = offset + size == text.size() ? kLast : kMore;
    iovec parts[2] = {{&marker, 1}, {const_cast<char*>(text.data()) + offset, size}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    if (::sendmsg(fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
      offset += size;
      if (marker == kLast) return 0;
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return errno;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return ETIMEDOUT;
    pollfd room{fd, POLLOUT, 0};
    if (::poll(&room, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return errno;
  }
}

int receivePacket(int fd, char* into, Packet* packet) {
  unsigned char marker = kLast;
  iovec parts[2] = {{&marker, 1}, {into, kPacketText}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  ssize_t got;
  do {
    got = ::recvmsg(fd, &message, MSG_DONTWAIT);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return static_cast<int>(got);
  packet->textBytes = static_cast<size_t>(got) - 1;
  packet->last = marker != kMore;
  packet->truncated = (message.msg_flags & MSG_TRUNC) != 0;
  return 1;
}

}  // namespace kiv::bus
