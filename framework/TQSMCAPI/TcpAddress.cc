// Bus TCP addresses, through the resolver calls both systems share.
#include "framework/TQSMCAPI/TcpSocket.h"

#include <cstring>
#include <memory>

#ifndef _WIN32
#include <netdb.h>
#endif

namespace kiv::bus {

bool resolveTcpAddress(const std::string& text, TcpAddress* resolved) {
  if (text.rfind("tcp://", 0) != 0 || !socketsReady()) return false;
  const std::string rest = text.substr(6);
  const size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon + 1 == rest.size()) return false;
  std::string host = rest.substr(0, colon);
  const std::string port = rest.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  if (host == "*") {
    hints.ai_family = AF_INET;
    hints.ai_flags |= AI_PASSIVE;
  }
  addrinfo* found = nullptr;
  if (::getaddrinfo(host == "*" ? nullptr : host.c_str(), port.c_str(), &hints, &found) != 0) return false;
  const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(found, [](addrinfo* list) { ::freeaddrinfo(list); });
  if (found == nullptr || found->ai_addrlen > sizeof resolved->address) return false;
  std::memcpy(&resolved->address, found->ai_addr, found->ai_addrlen);
  resolved->size = static_cast<socklen_t>(found->ai_addrlen);
  return true;
}

std::string tcpAddressText(const sockaddr* address, bool withPort) {
  char host[NI_MAXHOST] = {};
  char port[NI_MAXSERV] = {};
  const socklen_t size = address->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (::getnameinfo(address, size, host, sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return "unknown";
  }
  if (!withPort) return host;
  const bool v6 = address->sa_family == AF_INET6;
  return std::string("tcp://") + (v6 ? "[" : "") + host + (v6 ? "]" : "") + ":" + port;
}

}  // namespace kiv::bus
