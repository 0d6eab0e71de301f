// ZeroMQ wrappers.
#include "framework/TQSMCAPI/win/Zmq.h"

#include <zmq.h>

#include <cerrno>

#include "framework/TQSMCAPI/win/KeepLoaded.h"

namespace kiv::bus {

namespace {

// The context's I/O thread runs ZeroMQ code until the process ends, so this library (and
// with it ZeroMQ) must stay mapped even when the module that loaded it is unloaded.
void* pinnedContext() {
  keepThisLibraryLoaded();
  return zmq_ctx_new();
}

}  // namespace

void* busContext() {
  static void* const context = pinnedContext();
  return context;
}

ZmqSocket::ZmqSocket(void* context, int type)
    : socket_(context != nullptr ? zmq_socket(context, type) : nullptr) {
  setInt(ZMQ_LINGER, 0);
}

ZmqSocket::~ZmqSocket() { reset(); }

ZmqSocket& ZmqSocket::operator=(ZmqSocket&& other) noexcept {
  if (this != &other) {
    reset();
    socket_ = other.socket_;
    other.socket_ = nullptr;
  }
  return *this;
}

bool ZmqSocket::setInt(int option, int value) {
  return socket_ != nullptr && zmq_setsockopt(socket_, option, &value, sizeof value) == 0;
}

void ZmqSocket::reset() {
  if (socket_ != nullptr) zmq_close(socket_);
  socket_ = nullptr;
}

bool receiveFrames(void* socket, Frames* frames, bool dontWait, size_t maxFrames,
                   bool* truncated) {
  frames->clear();
  if (truncated) *truncated = false;
  int flags = dontWait ? ZMQ_DONTWAIT : 0;
  for (;;) {
    zmq_msg_t part;
    zmq_msg_init(&part);
    if (zmq_msg_recv(&part, socket, flags) < 0) {
      zmq_msg_close(&part);
      // Later parts of a message arrive with the first; only the first can be missing.
      if (errno == EINTR && !frames->empty()) continue;
      return !frames->empty();
    }
    if (frames->size() < maxFrames) {
      frames->emplace_back(static_cast<const char*>(zmq_msg_data(&part)), zmq_msg_size(&part));
    } else if (truncated) {
      *truncated = true;
    }
    const bool more = zmq_msg_more(&part) != 0;
    zmq_msg_close(&part);
    if (!more) return true;
    flags = 0;
  }
}

bool sendFrames(void* socket, const Frames& frames, int flags) {
  for (size_t i = 0; i < frames.size(); ++i) {
    const int more = i + 1 < frames.size() ? ZMQ_SNDMORE : 0;
    if (zmq_send(socket, frames[i].data(), frames[i].size(), flags | more) < 0) return false;
  }
  return true;
}

}  // namespace kiv::bus
