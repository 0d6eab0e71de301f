// Connection monitoring for senders. The connection is made once and not re-made while a
// sender could still be waiting on it: a new owner of the endpoint name binds a new socket at
// the same path, and a request still queued here must not reach that new owner after its
// sender was told nobody listens. ZeroMQ's own "never reconnect" (-1) cannot serve: it
// throws away the answers that arrived with the close.
#include "framework/TQSMCAPI/linux/LocalConnection.h"

#include <zmq.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace kiv::bus {
namespace {

constexpr int kReconnectAfterMs = 3600 * 1000;

}  // namespace

std::unique_ptr<LocalConnection> LocalConnection::open(const std::string& address) {
  static std::atomic<unsigned long> serial{0};
  const std::string monitorAddress = "inproc://kiv-bus-monitor-" + std::to_string(++serial);

  std::unique_ptr<LocalConnection> connection(new LocalConnection);
  connection->socket_ = ZmqSocket(busContext(), ZMQ_DEALER);
  void* socket = connection->socket_.get();
  if (socket == nullptr || !connection->socket_.setInt(ZMQ_RECONNECT_IVL, kReconnectAfterMs) ||
      zmq_socket_monitor(socket, monitorAddress.c_str(),
                         ZMQ_EVENT_CONNECTED | ZMQ_EVENT_DISCONNECTED) != 0) {
    return nullptr;
  }
  // The monitor is read before the connection starts, so that no event is missed.
  connection->monitor_ = ZmqSocket(busContext(), ZMQ_PAIR);
  if (!connection->monitor_ || zmq_connect(connection->monitor_.get(), monitorAddress.c_str()) != 0 ||
      zmq_connect(socket, address.c_str()) != 0) {
    return nullptr;
  }
  return connection;
}

LocalConnection::~LocalConnection() {
  if (socket_) zmq_socket_monitor(socket_.get(), nullptr, 0);
}

void LocalConnection::update() {
  Frames frames;
  while (monitor_ && receiveFrames(monitor_.get(), &frames, true)) {
    // Each event is a frame of a 16-bit event number and a 32-bit value, then the address.
    if (frames.empty() || frames[0].size() < sizeof(uint16_t)) continue;
    uint16_t event = 0;
    std::memcpy(&event, frames[0].data(), sizeof event);
    if (event == ZMQ_EVENT_CONNECTED) connected_ = true;
    if (event == ZMQ_EVENT_DISCONNECTED) disconnected_ = true;
  }
}

}  // namespace kiv::bus
