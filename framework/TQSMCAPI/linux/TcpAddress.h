// Turning a bus TCP address ("tcp://host:port", "tcp://*:port", "tcp://[::1]:port") into a
// socket address, and a bound socket back into such an address.
#pragma once

#include <sys/socket.h>

#include <string>

namespace kiv::bus {

struct TcpAddress {
  sockaddr_storage address{};
  socklen_t size = 0;
};

// False when the text is no such address or the host cannot be resolved. "*" is every IPv4
// interface.
bool resolveTcpAddress(const std::string& text, TcpAddress* resolved);

// "tcp://host:port" of a socket address, the host numeric; for "from where" in traces the
// host alone.
std::string tcpAddressText(const sockaddr* address, bool withPort = true);

}  // namespace kiv::bus
