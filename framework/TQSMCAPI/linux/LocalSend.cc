// Local sends on Linux. Each thread keeps its connection to each local endpoint, so that
// repeated sends cost one round trip; a connection whose request went unanswered in time is
// thrown away, so that a late answer is never taken for the answer to a later request.
//
// An answer that has arrived is always returned. An endpoint closes a connection without
// answering only when it has not read the request (it closes, the connection sat idle, or
// it is at its cap), so a request met by a closed connection was never handled: on a kept
// connection it is sent again on a new one; on a new one it is "nobody listening" when the
// endpoint is gone and "transport failed" when it is still there.
#include "framework/TQSMCAPI/LocalSend.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <unordered_map>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/BusPaths.h"
#include "framework/TQSMCAPI/Wire.h"
#include "framework/TQSMCAPI/linux/Packets.h"
#include "platform/home_path.h"
#include "platform/linux/unique_fd.h"

namespace kiv::bus {
namespace {

// awaitAnswer's result when the endpoint closed the connection without answering.
constexpr int kHungUp = -1;

// A receive time-out that overshoots the deadline by less than this is kept: setting it anew
// for every send would cost a system call each time.
constexpr int kTimeoutSlackMs = 50;

struct Connection {
  // The paths are worked out once per state root: the bus directory's own cache is shared
  // by every thread, and its lock would be taken by every send.
  std::string home;
  EndpointPaths paths;
  UniqueFd fd;
  int receiveTimeoutMs = -1;  // what SO_RCVTIMEO is set to
};

// By endpoint name.
thread_local std::unordered_map<std::string, Connection> connections;

int connectTo(const std::string& path, const Deadline& deadline, UniqueFd* fd) {
  // A send time-out of zero would mean no limit at all.
  const int remaining = deadline.remainingMs();
  if (remaining == 0) return kSmErrTimeout;
  fd->reset(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!*fd) return kSmErrTransport;
  // While the endpoint's backlog is full, connect waits, but not beyond the deadline.
  timeval limit{remaining / 1000, (remaining % 1000) * 1000};
  if (::setsockopt(fd->get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0) return kSmErrTransport;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  while (::connect(fd->get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno == EINTR) continue;
    if (errno == ENOENT || errno == ECONNREFUSED) return kSmErrNoListener;
    return errno == EAGAIN || errno == EINPROGRESS ? kSmErrTimeout : kSmErrTransport;
  }
  return 0;
}

// Waits for the one answer: 0 with *reply, kHungUp, kSmErrTimeout or kSmErrTransport. The
// read itself waits (under SO_RCVTIMEO), which saves a poll per message.
int awaitAnswer(Connection& c, const Deadline& deadline, Reply* reply) {
  char bytes[16];
  for (;;) {
    const int remaining = deadline.remainingMs();
    if (remaining == 0) return kSmErrTimeout;
    if (c.receiveTimeoutMs < 0 || remaining + kTimeoutSlackMs < c.receiveTimeoutMs ||
        remaining > c.receiveTimeoutMs + 1000) {
      timeval limit{remaining / 1000, (remaining % 1000) * 1000};
      if (::setsockopt(c.fd.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) {
        return kSmErrTransport;
      }
      c.receiveTimeoutMs = remaining;
    }
    const ssize_t got = ::recv(c.fd.get(), bytes, sizeof bytes, 0);
    if (got == 0) return kHungUp;
    if (got > 0) return decodeReply(std::string(bytes, static_cast<size_t>(got)), reply) ? 0 : kSmErrTransport;
    // A reset only says that the endpoint left a request unread; an answer before it is
    // still queued, and the next read returns it or the end.
    if (errno != EAGAIN && errno != EINTR && errno != ECONNRESET) return kSmErrTransport;
  }
}

// One attempt on `fd`: 0 with *reply, kHungUp or a kSmErr code.
int exchange(Connection& c, const std::string& text, const Deadline& deadline, Reply* reply) {
  const int error = sendPackets(c.fd.get(), text, deadline.remainingMs());
  if (error == EPIPE || error == ECONNRESET || error == ENOTCONN) return kHungUp;
  if (error == ETIMEDOUT) return kSmErrTimeout;
  if (error != 0) return kSmErrTransport;
  return awaitAnswer(c, deadline, reply);
}

}  // namespace

int sendLocal(const std::string& endpoint, const std::string& text, const Deadline& deadline,
              uint32_t* status) {
  Connection& c = connections[endpoint];
  const std::string home = platform::detail::configuredHome();
  if (c.home != home || c.paths.socketPath.empty()) {
    c.fd.reset();
    c.home.clear();
    if (!endpointPaths(endpoint, &c.paths, nullptr)) return kSmErrTransport;
    c.home = home;
  }
  const EndpointPaths& paths = c.paths;
  for (;;) {
    const bool kept = static_cast<bool>(c.fd);
    if (!kept) {
      c.receiveTimeoutMs = -1;
      const int result = connectTo(paths.socketPath, deadline, &c.fd);
      if (result != 0) {
        c.fd.reset();
        return result;
      }
    }
    Reply reply;
    const int result = exchange(c, text, deadline, &reply);
    if (result == 0) {
      if (reply.error != 0) return reply.error;
      *status = reply.status;
      return 0;
    }
    c.fd.reset();
    if (result != kHungUp) return result;
    if (kept) continue;
    return endpointOwned(paths.lockPath) && socketFileExists(paths.socketPath) ? kSmErrTransport
                                                                               : kSmErrNoListener;
  }
}

// The owner writes its process id into the lock file it holds.
int localEndpointOwner(const std::string& endpoint, int* pid) {
  EndpointPaths paths;
  if (!endpointPaths(endpoint, &paths, nullptr)) return kSmErrTransport;
  const int owner = endpointOwnerPid(paths.lockPath);
  if (owner < 0) return kSmErrNoListener;
  *pid = owner;
  return 0;
}

}  // namespace kiv::bus
