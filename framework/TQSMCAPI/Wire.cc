// Encoding of bus requests and answers.
#include "framework/TQSMCAPI/Wire.h"

namespace kiv::bus {
namespace {

void putLittleEndian(std::string* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>((value >> shift) & 0xFF));
}

}  // namespace

uint32_t decodeLength(const char* bytes) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

std::string encodeRequest(const std::string& endpoint, const std::string& text) {
  std::string request;
  request.reserve(8 + endpoint.size() + text.size());
  putLittleEndian(&request, static_cast<uint32_t>(endpoint.size()));
  request += endpoint;
  putLittleEndian(&request, static_cast<uint32_t>(text.size()));
  request += text;
  return request;
}

std::string encodeReply(const Reply& reply) {
  std::string frame;
  putLittleEndian(&frame, static_cast<uint32_t>(reply.error));
  putLittleEndian(&frame, reply.status);
  return frame;
}

bool decodeReply(const std::string& frame, Reply* reply) {
  if (frame.size() != 8) return false;
  reply->error = static_cast<int32_t>(decodeLength(frame.data()));
  reply->status = decodeLength(frame.data() + 4);
  return true;
}

}  // namespace kiv::bus
