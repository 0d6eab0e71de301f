// The bus wire format. A request is an envelope ending in an empty frame, then the body:
// one frame of UTF-8 XML from a local sender, or the endpoint name and the XML from a
// remote one. The answer is the same envelope and one 8-byte frame: a bus error (0 when the
// callback ran) and the callback's status, both little-endian.
#pragma once

#include <cstdint>
#include <string>

#include "framework/TQSMCAPI/Zmq.h"

namespace kiv::bus {

struct Reply {
  int32_t error = 0;
  uint32_t status = 0;
};

std::string encodeReply(const Reply& reply);
bool decodeReply(const std::string& frame, Reply* reply);

// Splits a received request at its empty delimiter frame. False when there is none.
bool splitEnvelope(Frames frames, Frames* envelope, Frames* body);

// The envelope with the encoded reply appended: what goes back to the sender.
Frames answer(Frames envelope, const Reply& reply);

}  // namespace kiv::bus
