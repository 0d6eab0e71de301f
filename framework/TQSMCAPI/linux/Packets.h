// How a message crosses a local endpoint's socket (SOCK_SEQPACKET, one connection per
// sender). Each packet is one marker byte (more packets follow, or this is the last) and up
// to kPacketText bytes of the message: a message below that size is one packet, a longer one
// several, since the kernel limits a packet to the socket's send buffer, which cannot be
// raised to 1 MiB without privileges. The marker also keeps every packet non-empty, so that
// an empty read means the peer hung up. Each request is answered by one packet holding the
// encoded Reply.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace kiv::bus {

constexpr size_t kPacketText = 64 * 1024;

// Sends `text` on the connected socket `fd`, waiting for room at most `timeoutMs` in all.
// 0, or the errno of the failure (ETIMEDOUT when the time ran out).
int sendPackets(int fd, const std::string& text, int timeoutMs);

struct Packet {
  size_t textBytes = 0;
  bool last = true;
  bool truncated = false;  // the packet held more than kPacketText bytes of text
};

// Reads one packet's text into `into` (room for kPacketText bytes) without waiting: 1 and
// *packet, 0 when the peer hung up, -1 with errno (EAGAIN when nothing is there).
int receivePacket(int fd, char* into, Packet* packet);

}  // namespace kiv::bus
