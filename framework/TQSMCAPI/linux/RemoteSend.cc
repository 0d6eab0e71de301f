// Remote sends on Linux: one TCP connection per send, the request framed as the listener
// reads it, every wait bounded by the deadline.
#include "framework/TQSMCAPI/RemoteSend.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/Wire.h"
#include "framework/TQSMCAPI/linux/TcpAddress.h"
#include "framework/TQSMCAPI/linux/UniqueFd.h"

namespace kiv::bus {
namespace {

// Waits until `fd` is ready for `events`: 0, kSmErrTimeout or kSmErrTransport.
int awaitReady(int fd, short events, const Deadline& deadline) {
  for (;;) {
    const int remaining = deadline.remainingMs();
    if (remaining == 0) return kSmErrTimeout;
    pollfd ready{fd, events, 0};
    const int result = ::poll(&ready, 1, remaining);
    if (result > 0) return 0;
    if (result < 0 && errno != EINTR) return kSmErrTransport;
  }
}

int connectTo(const TcpAddress& to, const Deadline& deadline, UniqueFd* fd) {
  fd->reset(::socket(to.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!*fd) return kSmErrTransport;
  if (::connect(fd->get(), reinterpret_cast<const sockaddr*>(&to.address), to.size) != 0) {
    if (errno != EINPROGRESS) return errno == ECONNREFUSED ? kSmErrNoListener : kSmErrTransport;
    const int ready = awaitReady(fd->get(), POLLOUT, deadline);
    if (ready != 0) return ready;
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(fd->get(), SOL_SOCKET, SO_ERROR, &error, &size);
    if (error != 0) return error == ECONNREFUSED ? kSmErrNoListener : kSmErrTransport;
  }
  return 0;
}

}  // namespace

int sendRemote(const std::string& address, const std::string& endpoint, const std::string& text,
               const Deadline& deadline, uint32_t* status) {
  TcpAddress to;
  if (!resolveTcpAddress(address, &to)) return kSmErrInvalidArgument;
  UniqueFd fd;
  int result = connectTo(to, deadline, &fd);
  if (result != 0) return result;

  const std::string request = encodeRequest(endpoint, text);
  for (size_t sent = 0; sent < request.size();) {
    const ssize_t wrote = ::send(fd.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (wrote > 0) {
      sent += static_cast<size_t>(wrote);
    } else if (errno == EAGAIN) {
      if ((result = awaitReady(fd.get(), POLLOUT, deadline)) != 0) return result;
    } else if (errno != EINTR) {
      // The listener turned the connection away before taking the request.
      return errno == EPIPE || errno == ECONNRESET ? kSmErrNoListener : kSmErrTransport;
    }
  }
  std::string answer(encodeReply(Reply{}).size(), '\0');
  for (size_t got = 0; got < answer.size();) {
    const ssize_t read = ::recv(fd.get(), answer.data() + got, answer.size() - got, 0);
    if (read > 0) {
      got += static_cast<size_t>(read);
    } else if (read == 0 || (errno != EAGAIN && errno != EINTR)) {
      return kSmErrTransport;
    } else if (errno == EAGAIN && (result = awaitReady(fd.get(), POLLIN, deadline)) != 0) {
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
