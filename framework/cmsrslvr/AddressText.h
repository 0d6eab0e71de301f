// Reading an address text (IPv4 or IPv6, optional "%zone" and "/prefix") into one 16-byte
// form: IPv4 addresses become IPv4-mapped IPv6 addresses (::ffff:a.b.c.d).
#pragma once

// in6_addr and inet_pton come from Winsock on Windows.
#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include <optional>

namespace kiv::resolver {

std::optional<in6_addr> parseAddress(const wchar_t* text);

bool isIpv4Mapped(const in6_addr& address);

}  // namespace kiv::resolver
