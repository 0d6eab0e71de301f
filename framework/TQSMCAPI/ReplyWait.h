// Waiting for the one answer to a request sent on a ZeroMQ DEALER socket.
#pragma once

#include <zmq.h>

#include <cerrno>
#include <cstdint>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/LocalSend.h"
#include "framework/TQSMCAPI/Wire.h"
#include "framework/TQSMCAPI/Zmq.h"

namespace kiv::bus {

// While waiting for an answer the endpoint's owner is looked for this often, so that an
// endpoint that closes meanwhile ends the wait early.
constexpr int kLivenessCheckMs = 200;

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

}  // namespace kiv::bus
