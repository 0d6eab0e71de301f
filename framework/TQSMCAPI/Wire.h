// The bus wire format. Every answer holds 8 bytes: a bus error (0 when the callback ran) and
// the callback's status, both little-endian. Through ZeroMQ (the TCP listener on Windows) a
// request is an envelope ending in an empty frame, then the endpoint name and the XML, and
// the answer goes back behind the same envelope.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::bus {

using Frames = std::vector<std::string>;

struct Reply {
  int32_t error = 0;
  uint32_t status = 0;
};

std::string encodeReply(const Reply& reply);
bool decodeReply(const std::string& frame, Reply* reply);

// On a TCP connection without ZeroMQ a request is the endpoint name and the text, each after
// its length in four little-endian bytes; the answer is the encoded Reply.
std::string encodeRequest(const std::string& endpoint, const std::string& text);
uint32_t decodeLength(const char* bytes);

// Splits a received request at its empty delimiter frame. False when there is none.
bool splitEnvelope(Frames frames, Frames* envelope, Frames* body);

// The envelope with the encoded reply appended: what goes back to the sender.
Frames answer(Frames envelope, const Reply& reply);

}  // namespace kiv::bus
