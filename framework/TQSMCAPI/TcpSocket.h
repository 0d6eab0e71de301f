// TCP sockets as the bus's listener and remote sender use them: non-blocking, never handed to
// child processes, closed by their owner. The calls are each system's own (linux/, win/).
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <sys/socket.h>
#endif

#include <cstddef>
#include <string>

#include "framework/TQSMCAPI/WakeSignal.h"

namespace kiv::bus {

using SocketHandle = WakeSignal::Descriptor;
#ifdef _WIN32
constexpr SocketHandle kNoSocket = INVALID_SOCKET;
#else
constexpr SocketHandle kNoSocket = -1;
#endif

// False when the system's socket layer cannot be used (Winsock did not start).
bool socketsReady();

// A bus TCP address ("tcp://host:port", "tcp://*:port", "tcp://[::1]:port") as a socket
// address.
struct TcpAddress {
  sockaddr_storage address{};
  socklen_t size = 0;
};

// False when the text is no such address or the host cannot be resolved. "*" is every IPv4
// interface.
bool resolveTcpAddress(const std::string& text, TcpAddress* resolved);

// "tcp://host:port" of a socket address, the host numeric; for "from where" in traces the
// host alone.
std::string tcpAddressText(const sockaddr* address, bool withPort = true);

// Why the last socket call of this thread moved nothing. A reset is no case of its own: a
// listener that took the connection and closed it is still there, so to a sender it is a
// failed transport like any other; only a refused connection says that nobody listens.
enum class SocketError { kWouldBlock, kInterrupted, kRefused, kNoResources, kOther };
SocketError lastSocketError();
// The system's words for it, for traces.
std::string lastSocketErrorText();

class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket() { reset(); }
  TcpSocket(TcpSocket&& other) noexcept : handle_(other.handle_) { other.handle_ = kNoSocket; }
  TcpSocket& operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.handle_;
      other.handle_ = kNoSocket;
    }
    return *this;
  }
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // A new socket for addresses of `family`; empty when the system gives none.
  static TcpSocket create(int family);

  SocketHandle get() const { return handle_; }
  explicit operator bool() const { return handle_ != kNoSocket; }
  void reset();

  // Binds (the port to this socket alone) and listens; *bound is the address taken.
  bool listen(const TcpAddress& at, TcpAddress* bound);
  // The next connection waiting, empty when there is none or it cannot be taken.
  TcpSocket accept(TcpAddress* from);
  // Starts a connection; once the socket is writable, connected() tells how it went.
  bool startConnect(const TcpAddress& to);
  bool connected(SocketError* why) const;
  // Bytes moved; 0 when the peer has ended (receive only); -1 when nothing moved.
  long receive(char* into, size_t size);
  long send(const char* from, size_t size);

 private:
  explicit TcpSocket(SocketHandle handle) : handle_(handle) {}

  SocketHandle handle_ = kNoSocket;
};

// Waits at most `timeoutMs` until `socket` can be read from (or, with `write`, written to, or
// its connection failed): > 0 ready, 0 when the time ran out, < 0 on error.
int awaitSocket(SocketHandle socket, bool write, int timeoutMs);

}  // namespace kiv::bus
