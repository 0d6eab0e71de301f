// The bus wire format. Every answer holds 8 bytes: a bus error (0 when the callback ran) and
// the callback's status, both little-endian.
#pragma once

#include <cstdint>
#include <string>

namespace kiv::bus {

struct Reply {
  int32_t error = 0;
  uint32_t status = 0;
};

std::string encodeReply(const Reply& reply);
bool decodeReply(const std::string& frame, Reply* reply);

// On a TCP connection a request is the endpoint name and the text, each after its length in
// four little-endian bytes; the answer is the encoded Reply.
std::string encodeRequest(const std::string& endpoint, const std::string& text);
uint32_t decodeLength(const char* bytes);

}  // namespace kiv::bus
