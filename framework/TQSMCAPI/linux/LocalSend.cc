// Local sends on Linux. Each thread keeps a connection per local endpoint, so repeated sends
// cost one round trip; a connection whose request went unanswered is thrown away, so a late
// answer can never be taken for the answer to a later request.
//
// An answer that has arrived is always returned. "Nobody listening" is said only when no
// answer can come any more: the endpoint is gone and either our request never left this
// process or the connection to the endpoint has closed (an endpoint sends every answer it
// owes before its connections close).
#include "framework/TQSMCAPI/LocalSend.h"

#include <zmq.h>

#include <algorithm>
#include <memory>
#include <string>
#include <unordered_map>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/BusPaths.h"
#include "framework/TQSMCAPI/ReplyWait.h"
#include "framework/TQSMCAPI/Wire.h"
#include "framework/TQSMCAPI/Zmq.h"
#include "framework/TQSMCAPI/linux/LocalConnection.h"

namespace kiv::bus {
namespace {

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

int sendLocal(const std::string& endpoint, const std::string& text, const Deadline& deadline,
              uint32_t* status) {
  EndpointPaths paths;
  if (!endpointPaths(endpoint, &paths, nullptr)) return kSmErrTransport;
  SocketFile file;
  if (!endpointOwned(paths.lockPath) || !socketFile(paths.socketPath, &file)) {
    return kSmErrNoListener;
  }

  LocalConnection* connection = localConnections.get(paths, file);
  if (connection == nullptr) return kSmErrTransport;
  const Frames request{std::string(), text};
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
