// The sending side of the bus, for our own tools: one request, one answer. Each thread keeps
// a connected socket per local endpoint, so repeated sends cost one round trip; a socket
// whose request went unanswered is thrown away, so a late answer can never be taken for the
// answer to a later request.
#include <sys/stat.h>
#include <zmq.h>

#include <chrono>
#include <string>
#include <unordered_map>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/BusPaths.h"
#include "framework/TQSMCAPI/Wire.h"
#include "framework/TQSMCAPI/Zmq.h"

namespace kiv::bus {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultTimeoutMs = 5000;
// While waiting for an answer the endpoint's owner is looked for this often, so that an
// endpoint that closes meanwhile ends the wait early.
constexpr int kLivenessCheckMs = 200;

struct Deadline {
  Clock::time_point at;
  explicit Deadline(int timeoutMs)
      : at(Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs)) {}
  int remainingMs() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  }
};

bool validArguments(const char* text, uint32_t length, const uint32_t* status) {
  return status != nullptr && (text != nullptr || length == 0);
}

// Waits for the one answer on `socket`. `stillThere` is asked between slices of the wait.
template <typename StillThere>
int awaitReply(void* socket, const Deadline& deadline, StillThere stillThere, uint32_t* status) {
  for (;;) {
    const int remaining = deadline.remainingMs();
    zmq_pollitem_t item{socket, 0, ZMQ_POLLIN, 0};
    const int slice = remaining < kLivenessCheckMs ? remaining : kLivenessCheckMs;
    const int ready = zmq_poll(&item, 1, slice);
    if (ready < 0 && zmq_errno() != EINTR) return kSmErrTransport;
    if (ready > 0) {
      Frames frames, envelope, body;
      Reply reply;
      if (!receiveFrames(socket, &frames, true)) continue;
      if (!splitEnvelope(std::move(frames), &envelope, &body) || body.size() != 1 ||
          !decodeReply(body[0], &reply)) {
        return kSmErrTransport;
      }
      if (reply.error != 0) return reply.error;
      *status = reply.status;
      return 0;
    }
    if (deadline.remainingMs() == 0) return kSmErrTimeout;
    if (!stillThere()) return kSmErrNoListener;
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

class LocalSockets {
 public:
  void* get(const EndpointPaths& paths, const SocketFile& file) {
    auto found = sockets_.find(paths.address);
    if (found != sockets_.end() && found->second.file == file) return found->second.socket.get();
    if (found != sockets_.end()) sockets_.erase(found);
    ZmqSocket socket(busContext(), ZMQ_DEALER);
    if (!socket || zmq_connect(socket.get(), paths.address.c_str()) != 0) return nullptr;
    return sockets_.emplace(paths.address, Cached{std::move(socket), file}).first->second.socket.get();
  }
  void discard(const std::string& address) { sockets_.erase(address); }

 private:
  struct Cached {
    ZmqSocket socket;
    SocketFile file;
  };
  std::unordered_map<std::string, Cached> sockets_;
};

// The endpoint we connected to is still open: its owner holds the lock and its socket file
// is the one we connected to.
bool sameEndpoint(const EndpointPaths& paths, const SocketFile& file) {
  SocketFile now;
  return endpointOwned(paths.lockPath) && socketFile(paths.socketPath, &now) && now == file;
}

thread_local LocalSockets localSockets;

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

  void* socket = localSockets.get(paths, file);
  if (socket == nullptr) return kSmErrTransport;
  const Frames request{std::string(), std::string(text == nullptr ? "" : text, length)};
  zmq_setsockopt(socket, ZMQ_SNDTIMEO, &kLivenessCheckMs, sizeof kLivenessCheckMs);
  int result = sendFrames(socket, request) ? 0 : kSmErrTimeout;
  if (result == 0) {
    result = awaitReply(socket, deadline, [&] { return sameEndpoint(paths, file); }, status);
  }
  if (result == kSmErrTimeout || result == kSmErrNoListener || result == kSmErrTransport) {
    localSockets.discard(paths.address);
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
  return awaitReply(socket.get(), deadline, [] { return true; }, status);
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
