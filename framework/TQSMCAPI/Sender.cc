// The sending side of the bus, for our own tools: one request, one answer. Each thread keeps
// a connection per local endpoint, so repeated sends cost one round trip; a connection whose
// request went unanswered is thrown away, so a late answer can never be taken for the
// answer to a later request.
//
// An answer that has arrived is always returned. "Nobody listening" is said only when no
// answer can come any more: the endpoint is gone and either our request never left this
// process or the connection to the endpoint has closed (an endpoint sends every answer it
// owes before its connections close).
#include <sys/stat.h>
#include <zmq.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/BusPaths.h"
#include "framework/TQSMCAPI/LocalConnection.h"
#include "framework/TQSMCAPI/Wire.h"
#include "framework/TQSMCAPI/Zmq.h"

namespace kiv::bus {
namespace {

using Clock = std::chrono::steady_clock;

// While waiting for an answer the endpoint's owner is looked for this often, so that an
// endpoint that closes meanwhile ends the wait early.
constexpr int kLivenessCheckMs = 200;
// takeReply's answer when nothing has arrived.
constexpr int kNoReplyYet = -1;

struct Deadline {
  Clock::time_point at;
  explicit Deadline(int timeoutMs)
      : at(Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : kSmDefaultTimeoutMs)) {}
  int remainingMs() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  }
};

bool validArguments(const char* text, uint32_t length, const uint32_t* status) {
  return status != nullptr && (text != nullptr || length == 0);
}

// The answer waiting on `socket`, if one is: 0 with *status, a bus error, or kNoReplyYet.
int takeReply(void* socket, uint32_t* status) {
  Frames frames, envelope, body;
  Reply reply;
  if (!receiveFrames(socket, &frames, true)) return kNoReplyYet;
  if (!splitEnvelope(std::move(frames), &envelope, &body) || body.size() != 1 ||
      !decodeReply(body[0], &reply)) {
    return kSmErrTransport;
  }
  if (reply.error != 0) return reply.error;
  *status = reply.status;
  return 0;
}

// Waits for the one answer from a listener on another machine.
int awaitRemoteReply(void* socket, const Deadline& deadline, uint32_t* status) {
  for (;;) {
    zmq_pollitem_t item{socket, 0, ZMQ_POLLIN, 0};
    if (zmq_poll(&item, 1, deadline.remainingMs()) < 0 && zmq_errno() != EINTR) {
      return kSmErrTransport;
    }
    const int result = takeReply(socket, status);
    if (result != kNoReplyYet) return result;
    if (deadline.remainingMs() == 0) return kSmErrTimeout;
  }
}

// Waits for the one answer from a local endpoint. `stillThere` is asked between slices of
// the wait until it first says no; from then on only the connection decides.
template <typename StillThere>
int awaitLocalReply(LocalConnection& connection, const Deadline& deadline, StillThere stillThere,
                    uint32_t* status) {
  bool endpointGone = false;
  bool waited = false;  // the endpoint is looked for only once a slice passed without answer
  for (;;) {
    int result = takeReply(connection.socket(), status);
    if (result != kNoReplyYet) return result;
    // A request that has left was sent after the connection was made, and the connection
    // event was queued before it: once the events are in, "never connected" is certain.
    connection.update();
    if (connection.disconnected() || (endpointGone && !connection.everConnected())) {
      // Nothing more can arrive; an answer that came with the close is here already.
      result = takeReply(connection.socket(), status);
      if (result != kNoReplyYet) return result;
      // A connection lost while its endpoint is still open is no "nobody listening".
      return endpointGone || !stillThere() ? kSmErrNoListener : kSmErrTransport;
    }
    const int remaining = deadline.remainingMs();
    if (remaining == 0) return kSmErrTimeout;
    if (waited && !endpointGone && !stillThere()) {
      endpointGone = true;
      continue;  // decide at once whether anything can still come
    }
    zmq_pollitem_t items[2] = {{connection.socket(), 0, ZMQ_POLLIN, 0},
                               {connection.monitor(), 0, ZMQ_POLLIN, 0}};
    const int slice = endpointGone ? remaining : std::min(remaining, kLivenessCheckMs);
    if (zmq_poll(items, 2, slice) < 0 && zmq_errno() != EINTR) return kSmErrTransport;
    waited = true;
  }
}

// Which socket file a cached connection was made to. An endpoint that closes and opens again
// binds a new file; a connection to the old one would lose the next request.
struct SocketFile {
  dev_t device = 0;
  ino_t inode = 0;
  struct timespec changed {};
  bool operator==(const SocketFile& o) const {
    return device == o.device && inode == o.inode && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec;
  }
};

bool socketFile(const std::string& path, SocketFile* file) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  *file = {info.st_dev, info.st_ino, info.st_ctim};
  return true;
}

class LocalConnections {
 public:
  LocalConnection* get(const EndpointPaths& paths, const SocketFile& file) {
    auto found = connections_.find(paths.address);
    if (found != connections_.end()) {
      found->second.connection->update();
      if (found->second.file == file && !found->second.connection->disconnected()) {
        return found->second.connection.get();
      }
      connections_.erase(found);
    }
    std::unique_ptr<LocalConnection> connection = LocalConnection::open(paths.address);
    if (connection == nullptr) return nullptr;
    return connections_.emplace(paths.address, Cached{std::move(connection), file})
        .first->second.connection.get();
  }
  void discard(const std::string& address) { connections_.erase(address); }

 private:
  struct Cached {
    std::unique_ptr<LocalConnection> connection;
    SocketFile file;
  };
  std::unordered_map<std::string, Cached> connections_;
};

// The endpoint we connected to is still open: its owner holds the lock and its socket file
// is the one we connected to.
bool sameEndpoint(const EndpointPaths& paths, const SocketFile& file) {
  SocketFile now;
  return endpointOwned(paths.lockPath) && socketFile(paths.socketPath, &now) && now == file;
}

thread_local LocalConnections localConnections;

}  // namespace
}  // namespace kiv::bus

using namespace kiv::bus;

extern "C" {

TQ_API int SmSend(const char* endpoint, const char* text, uint32_t length, uint32_t* status,
                  int timeoutMs) {
  if (!isValidEndpointName(endpoint) || !validArguments(text, length, status)) {
    return kSmErrInvalidArgument;
  }
  if (length > kSmMaxMessage) return kSmErrTooLarge;
  const Deadline deadline(timeoutMs);
  EndpointPaths paths;
  if (!endpointPaths(endpoint, &paths, nullptr)) return kSmErrTransport;
  SocketFile file;
  if (!endpointOwned(paths.lockPath) || !socketFile(paths.socketPath, &file)) {
    return kSmErrNoListener;
  }

  LocalConnection* connection = localConnections.get(paths, file);
  if (connection == nullptr) return kSmErrTransport;
  const Frames request{std::string(), std::string(text == nullptr ? "" : text, length)};
  zmq_setsockopt(connection->socket(), ZMQ_SNDTIMEO, &kLivenessCheckMs, sizeof kLivenessCheckMs);
  int result = sendFrames(connection->socket(), request) ? 0 : kSmErrTimeout;
  if (result == 0) {
    result = awaitLocalReply(*connection, deadline, [&] { return sameEndpoint(paths, file); }, status);
  }
  if (result == kSmErrTimeout || result == kSmErrNoListener || result == kSmErrTransport) {
    localConnections.discard(paths.address);
  }
  return result;
}

TQ_API int SmSendTo(const char* address, const char* endpoint, const char* text,
                    uint32_t length, uint32_t* status, int timeoutMs) {
  if (address == nullptr || std::string(address).rfind("tcp://", 0) != 0 ||
      !isValidEndpointName(endpoint) || !validArguments(text, length, status)) {
    return kSmErrInvalidArgument;
  }
  if (length > kSmMaxMessage) return kSmErrTooLarge;
  const Deadline deadline(timeoutMs);
  ZmqSocket socket(busContext(), ZMQ_DEALER);
  // Nothing is queued for a connection that is not up: a listener that is not there shows
  // as a send that cannot go out.
  socket.setInt(ZMQ_IMMEDIATE, 1);
  socket.setInt(ZMQ_SNDTIMEO, deadline.remainingMs());
  if (!socket || zmq_connect(socket.get(), address) != 0) return kSmErrInvalidArgument;
  const Frames request{std::string(), endpoint, std::string(text == nullptr ? "" : text, length)};
  if (!sendFrames(socket.get(), request)) {
    return zmq_errno() == EAGAIN ? kSmErrNoListener : kSmErrTransport;
  }
  return awaitRemoteReply(socket.get(), deadline, status);
}

TQ_API int SmQueryEndPointOwner(const char* endpoint, int* pid) {
  if (!isValidEndpointName(endpoint) || pid == nullptr) return kSmErrInvalidArgument;
  EndpointPaths paths;
  if (!endpointPaths(endpoint, &paths, nullptr)) return kSmErrTransport;
  const int owner = endpointOwnerPid(paths.lockPath);
  if (owner < 0) return kSmErrNoListener;
  *pid = owner;
  return 0;
}

TQ_API const char* SmErrorText(int error) {
  switch (error) {
    case 0: return "success";
    case kSmErrNotInitialized: return "the message bus is not initialised";
    case kSmErrInvalidArgument: return "invalid argument";
    case kSmErrEndpointInUse: return "the endpoint is already open in a running process";
    case kSmErrNoListener: return "nobody has the endpoint open";
    case kSmErrTimeout: return "the endpoint did not answer in time";
    case kSmErrTooLarge: return "the message is larger than 1 MiB";
    case kSmErrTransport: return "message transport failed";
    default: return "unknown message bus error";
  }
}

}  // extern "C"
