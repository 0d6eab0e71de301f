// Local address discovery: the machine's IPv4 and IPv6 addresses as numeric texts,
// optionally filtered and ordered by the address resolver policy.
#pragma once

#include <list>

#include "TQString.h"

class CTQIP {
 public:
  // Clears `list` and fills it. With applyPolicy false every address stays, in the
  // system's order; with it true loopback, link-local, site-local, unspecified and
  // multicast addresses are dropped and the rest ordered by the resolver.
  static void GetLocalAddresses(std::list<TQStringW>& list, bool applyPolicy);
};
