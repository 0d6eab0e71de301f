// Sending one message to the TCP listener of another machine and waiting for its answer.
#pragma once

#include <cstdint>
#include <string>

#include "framework/TQSMCAPI/LocalSend.h"

namespace kiv::bus {

// `address` is "tcp://host:port". 0 with *status, or a kSmErr code: kSmErrInvalidArgument
// for an address that cannot be used, kSmErrNoListener when nobody listens there (the
// connection is refused, or the listener has no such endpoint), kSmErrTransport when the
// listener closes the connection without an answer.
int sendRemote(const std::string& address, const std::string& endpoint, const std::string& text,
               const Deadline& deadline, uint32_t* status);

}  // namespace kiv::bus
