// The wake signal as a UDP socket on the loopback interface that sends datagrams to itself:
// Windows has no eventfd, and WSAPoll waits only on sockets.
#include "framework/TQSMCAPI/WakeSignal.h"

#include "framework/TQSMCAPI/TcpSocket.h"

namespace kiv::bus {
namespace {

SOCKET selfConnectedSocket() {
  if (!socketsReady()) return INVALID_SOCKET;
  SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof address;
  u_long nonBlocking = 1;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
      ::connect(s, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    ::closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

}  // namespace

WakeSignal::WakeSignal() : fd_(selfConnectedSocket()) {}

WakeSignal::~WakeSignal() {
  if (fd_ != INVALID_SOCKET) ::closesocket(fd_);
}

bool WakeSignal::valid() const { return fd_ != INVALID_SOCKET; }

void WakeSignal::raise() {
  const char one = 1;
  ::send(fd_, &one, 1, 0);
}

void WakeSignal::clear() {
  char buffer[64];
  while (::recv(fd_, buffer, sizeof buffer, 0) > 0) {
  }
}

}  // namespace kiv::bus
