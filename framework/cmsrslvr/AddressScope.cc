// Scope classification of an address: the bits callers use to drop addresses that cannot
// serve as a machine's reachable address.
#include <cstring>

#include "cmsrslvr.h"
#include "framework/cmsrslvr/AddressText.h"

namespace kiv::resolver {
namespace {

uint32_t ipv4Scope(const unsigned char* a) {
  if (a[0] == 127) return kResScopeLoopback;
  if (a[0] == 169 && a[1] == 254) return kResScopeLinkLocal;
  if (a[0] == 10 || (a[0] == 172 && (a[1] & 0xF0) == 16) || (a[0] == 192 && a[1] == 168)) {
    return kResScopeSiteLocal;
  }
  if (a[0] == 0 && a[1] == 0 && a[2] == 0 && a[3] == 0) return kResScopeUnspecified;
  if ((a[0] & 0xF0) == 224) return kResScopeMulticast;
  return 0;
}

uint32_t ipv6Scope(const in6_addr& address) {
  const unsigned char* a = address.s6_addr;
  if (IN6_IS_ADDR_LOOPBACK(&address)) return kResScopeLoopback;
  if (IN6_IS_ADDR_UNSPECIFIED(&address)) return kResScopeUnspecified;
  if (a[0] == 0xFF) return kResScopeMulticast;
  if (a[0] == 0xFE && (a[1] & 0xC0) == 0x80) return kResScopeLinkLocal;
  if ((a[0] == 0xFE && (a[1] & 0xC0) == 0xC0) || (a[0] & 0xFE) == 0xFC) return kResScopeSiteLocal;
  return 0;
}

}  // namespace
}  // namespace kiv::resolver

extern "C" TQ_API uint32_t ResGetAddressScopeW(const wchar_t* address) {
  using namespace kiv::resolver;
  const std::optional<in6_addr> parsed = parseAddress(address);
  if (!parsed) return 0;
  if (isIpv4Mapped(*parsed)) return ipv4Scope(&parsed->s6_addr[12]);
  return ipv6Scope(*parsed);
}
