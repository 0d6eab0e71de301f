// Small owning wrappers over the ZeroMQ C API, and multipart send and receive.
#pragma once

#include <string>
#include <vector>

#include "framework/TQSMCAPI/Wire.h"

namespace kiv::bus {


// The process's one ZeroMQ context, shared by endpoints, the TCP listener and senders. It is
// never terminated: sockets that threads keep may outlive any order of static destruction.
void* busContext();

// How long a closed socket that answers requests (an endpoint, the TCP listener) may take to
// pass on the answers already given. Senders wait for their connection to close before they
// conclude that nobody answered, so an answer dropped at the close would turn a handled
// message into "nobody listening".
constexpr int kAnswerLingerMs = 10000;

// A socket made with no linger (nothing queued for a vanished peer may hold up a close);
// sockets that answer requests set kAnswerLingerMs instead.
class ZmqSocket {
 public:
  ZmqSocket() = default;
  ZmqSocket(void* context, int type);
  ~ZmqSocket();
  ZmqSocket(ZmqSocket&& other) noexcept : socket_(other.socket_) { other.socket_ = nullptr; }
  ZmqSocket& operator=(ZmqSocket&& other) noexcept;
  ZmqSocket(const ZmqSocket&) = delete;
  ZmqSocket& operator=(const ZmqSocket&) = delete;

  void* get() const { return socket_; }
  explicit operator bool() const { return socket_ != nullptr; }
  bool setInt(int option, int value);
  void reset();

 private:
  void* socket_ = nullptr;
};

// Receives one whole multipart message. With dontWait, false when none is queued. Frames
// beyond maxFrames are read and dropped; *truncated then tells.
bool receiveFrames(void* socket, Frames* frames, bool dontWait, size_t maxFrames = 16,
                   bool* truncated = nullptr);
bool sendFrames(void* socket, const Frames& frames, int flags = 0);

}  // namespace kiv::bus
