// The sending side of the bus, for our own tools: one request, one answer. Each thread keeps
// a connected socket per local endpoint, so repeated sends cost one round trip; a socket
// whose request went unanswered is thrown away, so a late answer can never be taken for the
// answer to a later request.
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

// Never terminated: sockets cached by threads may outlive any static destructor order.
void* senderContext() {
  static void* context = zmq_ctx_new();
  return context;
}

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

class LocalSockets {
 public:
  void* get(const std::string& address) {
    auto found = sockets_.find(address);
    if (found != sockets_.end()) return found->second.get();
    ZmqSocket socket(senderContext(), ZMQ_DEALER);
    if (!socket || zmq_connect(socket.get(), address.c_str()) != 0) return nullptr;
    return sockets_.emplace(address, std::move(socket)).first->second.get();
  }
  void discard(const std::string& address) { sockets_.erase(address); }

 private:
  std::unordered_map<std::string, ZmqSocket> sockets_;
};

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
  if (!endpointOwned(paths.lockPath)) return kSmErrNoListener;

  void* socket = localSockets.get(paths.address);
  if (socket == nullptr) return kSmErrTransport;
  const Frames request{std::string(), std::string(text == nullptr ? "" : text, length)};
  zmq_setsockopt(socket, ZMQ_SNDTIMEO, &kLivenessCheckMs, sizeof kLivenessCheckMs);
  int result = sendFrames(socket, request) ? 0 : kSmErrTimeout;
  if (result == 0) {
    result = awaitReply(socket, deadline, [&] { return endpointOwned(paths.lockPath); }, status);
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
  ZmqSocket socket(senderContext(), ZMQ_DEALER);
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
