// Local endpoints on Linux: a ZeroMQ ROUTER socket bound to ipc://KIV_HOME/run/bus/NAME, owned
// through the lock file beside it, woken through an eventfd.
#include "framework/TQSMCAPI/LocalListener.h"

#include <zmq.h>

#include <cerrno>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/BusPaths.h"
#include "framework/TQSMCAPI/WakeSignal.h"
#include "framework/TQSMCAPI/Zmq.h"
#include "tqUtilities.h"

namespace kiv::bus {
namespace {

// Messages a little over the limit still get a "too large" answer; anything far beyond it
// makes ZeroMQ drop the connection before the bytes are buffered.
constexpr int64_t kMaxFrameOnWire = 2 * static_cast<int64_t>(kSmMaxMessage);
// Local messages handled per wake-up before the thread looks at its other inputs again.
constexpr int kBatch = 64;

}  // namespace

struct LocalListener::State {
  std::string name;
  EndpointPaths paths;
  EndpointLock lock;
  ZmqSocket socket;
  WakeSignal wake;
  zmq_pollitem_t items[2] = {};
};

LocalListener::LocalListener() : state_(std::make_unique<State>()) {}

LocalListener::~LocalListener() = default;

int LocalListener::open(const std::string& name) {
  State& s = *state_;
  s.name = name;
  std::string error;
  if (!endpointPaths(name, &s.paths, &error)) {
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"SmOpenEndPointU: %hs", error.c_str());
    return kSmErrTransport;
  }
  const int locked = s.lock.acquire(s.paths.lockPath);
  if (locked != 0) return locked;
  // Whatever socket file is left now belongs to a process that died.
  removeSocketFile(s.paths.socketPath);

  s.socket = ZmqSocket(busContext(), ZMQ_ROUTER);
  if (!s.socket || !s.wake.valid() || !s.socket.setInt(ZMQ_LINGER, kAnswerLingerMs) ||
      zmq_setsockopt(s.socket.get(), ZMQ_MAXMSGSIZE, &kMaxFrameOnWire, sizeof kMaxFrameOnWire) != 0 ||
      zmq_bind(s.socket.get(), s.paths.address.c_str()) != 0) {
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"SmOpenEndPointU: cannot listen on %hs: %hs",
                            s.paths.address.c_str(), zmq_strerror(zmq_errno()));
    s.socket.reset();
    return kSmErrTransport;
  }
  s.items[0] = {s.socket.get(), 0, ZMQ_POLLIN, 0};
  s.items[1] = s.wake.pollItem();
  return 0;
}

bool LocalListener::wait() {
  State& s = *state_;
  for (;;) {
    if (zmq_poll(s.items, 2, -1) >= 0) break;
    if (zmq_errno() == EINTR) continue;
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"endpoint %hs: poll failed: %hs", s.name.c_str(),
                            zmq_strerror(zmq_errno()));
    return false;
  }
  if (s.items[1].revents != 0) s.wake.clear();
  return true;
}

void LocalListener::wake() { state_->wake.raise(); }

void LocalListener::serviceRequests(const Handle& handle) {
  void* socket = state_->socket.get();
  for (int i = 0; i < kBatch; ++i) {
    Frames frames, envelope, body;
    bool truncated = false;
    if (!receiveFrames(socket, &frames, true, 16, &truncated)) return;
    // Without an envelope there is nobody to answer.
    if (!splitEnvelope(std::move(frames), &envelope, &body)) continue;
    const Reply reply = handle(body.size() == 1 && !truncated ? &body[0] : nullptr);
    sendFrames(socket, answer(std::move(envelope), reply), ZMQ_DONTWAIT);
  }
}

// Frees the name. The socket file goes first: from then on a sender that finds its
// connection closed knows the endpoint is gone ("nobody listening") and never mistakes the
// close for a transport fault. Existing connections outlive the file, so the answers already
// given still go out after the close (the socket lingers), and each connection closes behind
// its answers. The ownership lock goes last, so that a new owner never finds our socket file
// in its way; ZeroMQ never removes the file itself, so the removal cannot hit a file that a
// new owner has made.
void LocalListener::close(const Reply& leftover) {
  State& s = *state_;
  removeSocketFile(s.paths.socketPath);
  Frames frames, envelope, body;
  while (s.socket && receiveFrames(s.socket.get(), &frames, true)) {
    if (splitEnvelope(std::move(frames), &envelope, &body)) {
      sendFrames(s.socket.get(), answer(std::move(envelope), leftover), ZMQ_DONTWAIT);
    }
  }
  s.socket.reset();
  s.lock.release();
}

}  // namespace kiv::bus
