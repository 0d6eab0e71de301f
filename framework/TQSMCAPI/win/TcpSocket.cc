// TCP sockets on Windows (Winsock): non-blocking, not inherited by the processes the host
// starts, and a listening port held by this socket alone.
#include "framework/TQSMCAPI/TcpSocket.h"

#include <windows.h>

namespace kiv::bus {
namespace {

SocketError classify(int error) {
  switch (error) {
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
    case WSAEALREADY:
      return SocketError::kWouldBlock;
    case WSAEINTR:
      return SocketError::kInterrupted;
    case WSAECONNREFUSED:
      return SocketError::kRefused;
    case WSAEMFILE:
    case WSAENOBUFS:
      return SocketError::kNoResources;
    default:
      return SocketError::kOther;
  }
}

// Made non-blocking and kept from child processes; closed when either fails.
SocketHandle prepared(SocketHandle socket) {
  u_long nonBlocking = 1;
  if (socket != kNoSocket &&
      (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0 ||
       !SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0))) {
    ::closesocket(socket);
    return kNoSocket;
  }
  return socket;
}

}  // namespace

// Winsock is started once for the process and left running: sockets of the bus live until
// the process ends.
bool socketsReady() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

SocketError lastSocketError() { return classify(WSAGetLastError()); }

std::string lastSocketErrorText() { return "Winsock error " + std::to_string(WSAGetLastError()); }

TcpSocket TcpSocket::create(int family) {
  if (!socketsReady()) return TcpSocket();
  return TcpSocket(prepared(::socket(family, SOCK_STREAM, IPPROTO_TCP)));
}

void TcpSocket::reset() {
  if (handle_ != kNoSocket) ::closesocket(handle_);
  handle_ = kNoSocket;
}

bool TcpSocket::listen(const TcpAddress& at, TcpAddress* bound) {
  // Winsock's SO_REUSEADDR would let another program bind the same port and take over its
  // connections; the port is kept to this socket instead.
  const BOOL yes = TRUE;
  bound->size = sizeof bound->address;
  return ::setsockopt(handle_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
                      sizeof yes) == 0 &&
         ::bind(handle_, reinterpret_cast<const sockaddr*>(&at.address), at.size) == 0 &&
         ::listen(handle_, SOMAXCONN) == 0 &&
         ::getsockname(handle_, reinterpret_cast<sockaddr*>(&bound->address), &bound->size) == 0;
}

TcpSocket TcpSocket::accept(TcpAddress* from) {
  from->size = sizeof from->address;
  return TcpSocket(prepared(::accept(handle_, reinterpret_cast<sockaddr*>(&from->address), &from->size)));
}

bool TcpSocket::startConnect(const TcpAddress& to) {
  return ::connect(handle_, reinterpret_cast<const sockaddr*>(&to.address), to.size) == 0 ||
         WSAGetLastError() == WSAEWOULDBLOCK;
}

bool TcpSocket::connected(SocketError* why) const {
  int error = 0;
  int size = sizeof error;
  if (::getsockopt(handle_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
    error = WSAGetLastError();
  }
  *why = classify(error);
  return error == 0;
}

long TcpSocket::receive(char* into, size_t size) {
  const int got = ::recv(handle_, into, static_cast<int>(size), 0);
  return got == SOCKET_ERROR ? -1 : got;
}

long TcpSocket::send(const char* from, size_t size) {
  const int sent = ::send(handle_, from, static_cast<int>(size), 0);
  return sent == SOCKET_ERROR ? -1 : sent;
}

int awaitSocket(SocketHandle socket, bool write, int timeoutMs) {
  // select, not WSAPoll: older Windows versions' WSAPoll does not report a failed connect,
  // while select names it in the exception set.
  fd_set readable, writable, failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(socket, write ? &writable : &readable);
  FD_SET(socket, &failed);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int ready = ::select(0, &readable, &writable, &failed, timeoutMs < 0 ? nullptr : &limit);
  return ready == SOCKET_ERROR ? -1 : ready;
}

}  // namespace kiv::bus
