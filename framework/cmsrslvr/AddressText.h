// Reading an address text (IPv4 or IPv6, optional "%zone" and "/prefix") into one 16-byte
// form: IPv4 addresses become IPv4-mapped IPv6 addresses (::ffff:a.b.c.d).
#pragma once

#include <netinet/in.h>

#include <optional>

namespace kiv::resolver {

std::optional<in6_addr> parseAddress(const wchar_t* text);

bool isIpv4Mapped(const in6_addr& address);

}  // namespace kiv::resolver
