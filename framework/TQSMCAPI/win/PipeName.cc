// Endpoint pipe names and the request framing.
#include "framework/TQSMCAPI/win/PipeName.h"

#include <cstdio>

#include "platform/home_path.h"
#include "platform/utf8.h"

namespace kiv::bus::win {

std::string rootDigest(const std::string& root) {
  std::string path = root;
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  // FNV-1a over the path with ASCII folded to lower case and '/' read as '\'.
  uint64_t hash = 0xcbf29ce484222325ull;
  for (const char raw : path) {
    char c = raw == '/' ? '\\' : raw;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

std::wstring pipeName(const std::string& endpoint) {
  // Taken from the configured root on every call, without touching the file system: a
  // process whose root changes (KIV_HOME set anew) must not keep using the old one's pipes
  // while its endpoints' lock files already live under the new root.
  const std::string root = platform::detail::configuredHome();
  if (root.empty()) return {};
  return utf::widen("\\\\.\\pipe\\kiv-bus-" + rootDigest(root) + "-" + endpoint);
}

std::string lengthPrefix(uint32_t length) {
  std::string bytes;
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>((length >> shift) & 0xFF));
  return bytes;
}

uint32_t readLength(const unsigned char bytes[kLengthBytes]) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace kiv::bus::win
