// Waiting for the one answer to a request sent on a ZeroMQ DEALER socket to the TCP listener
// of another machine.
#pragma once

#include <zmq.h>

#include <cerrno>
#include <cstdint>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/LocalSend.h"
#include "framework/TQSMCAPI/Wire.h"
#include "framework/TQSMCAPI/win/Zmq.h"

namespace kiv::bus {

// takeReply's answer when nothing has arrived.
constexpr int kNoReplyYet = -1;

// The answer waiting on `socket`, if one is: 0 with *status, a bus error, or kNoReplyYet.
inline int takeReply(void* socket, uint32_t* status) {
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
inline int awaitRemoteReply(void* socket, const Deadline& deadline, uint32_t* status) {
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

}  // namespace kiv::bus
