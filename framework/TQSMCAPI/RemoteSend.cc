// Remote sends: one TCP connection per send, the request framed as the listener reads it,
// every wait bounded by the deadline.
#include "framework/TQSMCAPI/RemoteSend.h"

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/TcpSocket.h"
#include "framework/TQSMCAPI/Wire.h"

namespace kiv::bus {
namespace {

// Waits until the socket is ready: 0, kSmErrTimeout or kSmErrTransport.
int awaitReady(const TcpSocket& socket, bool write, const Deadline& deadline) {
  for (;;) {
    const int remaining = deadline.remainingMs();
    if (remaining == 0) return kSmErrTimeout;
    const int result = awaitSocket(socket.get(), write, remaining);
    if (result > 0) return 0;
    if (result < 0 && lastSocketError() != SocketError::kInterrupted) return kSmErrTransport;
  }
}

int connectTo(const TcpAddress& to, const Deadline& deadline, TcpSocket* socket) {
  *socket = TcpSocket::create(to.address.ss_family);
  if (!*socket) return kSmErrTransport;
  if (!socket->startConnect(to)) {
    return lastSocketError() == SocketError::kRefused ? kSmErrNoListener : kSmErrTransport;
  }
  const int ready = awaitReady(*socket, true, deadline);
  if (ready != 0) return ready;
  SocketError why = SocketError::kOther;
  if (!socket->connected(&why)) return why == SocketError::kRefused ? kSmErrNoListener : kSmErrTransport;
  return 0;
}

}  // namespace

int sendRemote(const std::string& address, const std::string& endpoint, const std::string& text,
               const Deadline& deadline, uint32_t* status) {
  TcpAddress to;
  if (!resolveTcpAddress(address, &to)) return kSmErrInvalidArgument;
  TcpSocket socket;
  int result = connectTo(to, deadline, &socket);
  if (result != 0) return result;

  const std::string request = encodeRequest(endpoint, text);
  for (size_t sent = 0; sent < request.size();) {
    const long wrote = socket.send(request.data() + sent, request.size() - sent);
    const SocketError why = wrote > 0 ? SocketError::kOther : lastSocketError();
    if (wrote > 0) {
      sent += static_cast<size_t>(wrote);
    } else if (why == SocketError::kWouldBlock) {
      if ((result = awaitReady(socket, true, deadline)) != 0) return result;
    } else if (why != SocketError::kInterrupted) {
      // A reset here is a listener that took the connection and closed it (at its cap, say),
      // just as one while the answer is awaited: not a sign that nobody listens. Only a
      // refused connect says that.
      return kSmErrTransport;
    }
  }
  std::string answer(encodeReply(Reply{}).size(), '\0');
  for (size_t got = 0; got < answer.size();) {
    const long read = socket.receive(answer.data() + got, answer.size() - got);
    const SocketError why = read > 0 ? SocketError::kOther : lastSocketError();
    if (read > 0) {
      got += static_cast<size_t>(read);
    } else if (read == 0 || (why != SocketError::kWouldBlock && why != SocketError::kInterrupted)) {
      return kSmErrTransport;
    } else if (why == SocketError::kWouldBlock && (result = awaitReady(socket, false, deadline)) != 0) {
      return result;
    }
  }
  Reply reply;
  if (!decodeReply(answer, &reply)) return kSmErrTransport;
  if (reply.error != 0) return reply.error;
  *status = reply.status;
  return 0;
}

}  // namespace kiv::bus
