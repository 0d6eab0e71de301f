// TCP sockets on Linux: created non-blocking and close-on-exec; sends never raise SIGPIPE.
#include "framework/TQSMCAPI/TcpSocket.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kiv::bus {
namespace {

SocketError classify(int error) {
  switch (error) {
    case EAGAIN:
    case EINPROGRESS:
      return SocketError::kWouldBlock;
    case EINTR:
      return SocketError::kInterrupted;
    case ECONNREFUSED:
      return SocketError::kRefused;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return SocketError::kNoResources;
    default:
      return SocketError::kOther;
  }
}

}  // namespace

bool socketsReady() { return true; }

SocketError lastSocketError() { return classify(errno); }

std::string lastSocketErrorText() { return std::strerror(errno); }

TcpSocket TcpSocket::create(int family) {
  return TcpSocket(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

void TcpSocket::reset() {
  if (handle_ >= 0) ::close(handle_);
  handle_ = kNoSocket;
}

bool TcpSocket::listen(const TcpAddress& at, TcpAddress* bound) {
  // On Linux this only lets a restarted listener bind while old connections linger.
  const int yes = 1;
  bound->size = sizeof bound->address;
  return ::setsockopt(handle_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
         ::bind(handle_, reinterpret_cast<const sockaddr*>(&at.address), at.size) == 0 &&
         ::listen(handle_, SOMAXCONN) == 0 &&
         ::getsockname(handle_, reinterpret_cast<sockaddr*>(&bound->address), &bound->size) == 0;
}

TcpSocket TcpSocket::accept(TcpAddress* from) {
  from->size = sizeof from->address;
  return TcpSocket(::accept4(handle_, reinterpret_cast<sockaddr*>(&from->address), &from->size,
                             SOCK_NONBLOCK | SOCK_CLOEXEC));
}

bool TcpSocket::startConnect(const TcpAddress& to) {
  return ::connect(handle_, reinterpret_cast<const sockaddr*>(&to.address), to.size) == 0 ||
         errno == EINPROGRESS;
}

bool TcpSocket::connected(SocketError* why) const {
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(handle_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
  *why = classify(error);
  return error == 0;
}

long TcpSocket::receive(char* into, size_t size) { return ::recv(handle_, into, size, 0); }

long TcpSocket::send(const char* from, size_t size) { return ::send(handle_, from, size, MSG_NOSIGNAL); }

int awaitSocket(SocketHandle socket, bool write, int timeoutMs) {
  pollfd ready{socket, static_cast<short>(write ? POLLOUT : POLLIN), 0};
  return ::poll(&ready, 1, timeoutMs);
}

}  // namespace kiv::bus
