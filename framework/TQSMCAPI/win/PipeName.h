// The named pipe of a local endpoint on Windows, and how requests and answers travel in it.
#pragma once

#include <cstdint>
#include <string>

namespace kiv::bus::win {

// \\.\pipe\kiv-bus-<root>-<endpoint>, where <root> is a digest of the state root's path, so
// that processes working on different KIV_HOMEs never reach each other's endpoints. Pipe
// names ignore case: "tqNotify" and "TQNOTIFY" are one endpoint here. Empty when the state
// root cannot be found.
std::wstring pipeName(const std::string& endpoint);

// The digest of a state root's path: the same for every spelling of one folder that differs
// only in case or in the kind or number of trailing separators.
std::string rootDigest(const std::string& root);

// A request is its length as 4 bytes, little-endian, then that many bytes of UTF-8 XML. The
// answer is the 8-byte reply of the wire format.
constexpr size_t kLengthBytes = 4;
std::string lengthPrefix(uint32_t length);
uint32_t readLength(const unsigned char bytes[kLengthBytes]);

}  // namespace kiv::bus::win
