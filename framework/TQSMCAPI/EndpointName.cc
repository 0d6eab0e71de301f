// Which texts may name an endpoint.
#include <cstddef>

#include "framework/TQSMCAPI/BusPaths.h"

namespace kiv::bus {

bool isValidEndpointName(const char* name) {
  if (name == nullptr || name[0] == '\0' || name[0] == '.') return false;
  size_t length = 0;
  for (const char* p = name; *p != '\0'; ++p, ++length) {
    const char c = *p;
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '_' || c == '-';
    if (!ok || length >= kMaxEndpointName) return false;
  }
  return true;
}

}  // namespace kiv::bus
