// Remote sends on Windows, through a ZeroMQ DEALER socket.
#include "framework/TQSMCAPI/RemoteSend.h"

#include <zmq.h>

#include <cerrno>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/win/ReplyWait.h"
#include "framework/TQSMCAPI/Wire.h"
#include "framework/TQSMCAPI/win/Zmq.h"

namespace kiv::bus {

int sendRemote(const std::string& address, const std::string& endpoint, const std::string& text,
               const Deadline& deadline, uint32_t* status) {
  ZmqSocket socket(busContext(), ZMQ_DEALER);
  // Nothing is queued for a connection that is not up: a listener that is not there shows
  // as a send that cannot go out.
  socket.setInt(ZMQ_IMMEDIATE, 1);
  socket.setInt(ZMQ_SNDTIMEO, deadline.remainingMs());
  if (!socket || zmq_connect(socket.get(), address.c_str()) != 0) return kSmErrInvalidArgument;
  const Frames request{std::string(), endpoint, text};
  if (!sendFrames(socket.get(), request)) {
    return zmq_errno() == EAGAIN ? kSmErrNoListener : kSmErrTransport;
  }
  return awaitRemoteReply(socket.get(), deadline, status);
}

}  // namespace kiv::bus
