// Session numbers from the session manager's ids, the same on every system: a small
// decimal id is its own number, any other id a stable hash with the top bit set.
#include <cstdint>
#include <string_view>

#include "platform/sessions.h"

namespace kiv::platform {

uint32_t sessionNumberFromId(std::string_view id) {
  uint64_t value = 0;
  bool decimal = !id.empty() && id.size() <= 10;
  for (char c : id) {
    if (c < '0' || c > '9') {
      decimal = false;
      break;
    }
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (decimal && value < 0x80000000u) return static_cast<uint32_t>(value);
  uint32_t hash = 2166136261u;
  for (unsigned char c : id) {
    hash ^= c;
    hash *= 16777619u;
  }
  return 0x80000000u | (hash & 0x7FFFFFFFu);
}

}  // namespace kiv::platform
