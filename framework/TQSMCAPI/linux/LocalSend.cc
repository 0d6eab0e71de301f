// Local sends on Linux. Each thread keeps a connected socket per local endpoint, so repeated
// sends cost one round trip; a socket whose request went unanswered is thrown away, so a late
// answer can never be taken for the answer to a later request.
#include "framework/TQSMCAPI/LocalSend.h"

#include <zmq.h>

#include <string>
#include <unordered_map>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/BusPaths.h"
#include "framework/TQSMCAPI/ReplyWait.h"
#include "framework/TQSMCAPI/Wire.h"
#include "framework/TQSMCAPI/Zmq.h"

namespace kiv::bus {
namespace {

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

int sendLocal(const std::string& endpoint, const std::string& text, const Deadline& deadline,
              uint32_t* status) {
  EndpointPaths paths;
  if (!endpointPaths(endpoint, &paths, nullptr)) return kSmErrTransport;
  SocketFile file;
  if (!endpointOwned(paths.lockPath) || !socketFile(paths.socketPath, &file)) {
    return kSmErrNoListener;
  }

  void* socket = localSockets.get(paths, file);
  if (socket == nullptr) return kSmErrTransport;
  const Frames request{std::string(), text};
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

}  // namespace kiv::bus
