// Local endpoints on Linux: a SOCK_SEQPACKET socket bound at KIV_HOME/run/bus/NAME, owned
// through the lock file beside it, and served by the delivery thread alone through one
// socket poller (the socket, every connection, the wake signal).
//
// Each connection belongs to one sender. The kernel tells who it is (SO_PEERCRED): only root
// and the user the endpoint runs as may have a message taken, whatever the bus directory's
// mode. Connections are capped, and one that stays silent for the idle time is closed; a
// sender that keeps its connection between messages simply connects again.
#include "framework/TQSMCAPI/LocalListener.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include <vector>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/BusPaths.h"
#include "framework/TQSMCAPI/ConnectionLimits.h"
#include "framework/TQSMCAPI/RefusalLog.h"
#include "framework/TQSMCAPI/SocketPoller.h"
#include "framework/TQSMCAPI/WakeSignal.h"
#include "framework/TQSMCAPI/linux/Packets.h"
#include "tqUtilities.h"
#include "platform/linux/unique_fd.h"

namespace kiv::bus {
namespace {

using Clock = std::chrono::steady_clock;

// Connections taken from the backlog in one round; the rest are taken in the next.
constexpr int kBatch = 64;
// Packets of one connection read per round: a whole message of the largest size.
constexpr size_t kPacketsPerRound = kSmMaxMessage / kPacketText + 2;
// After the process ran out of descriptors, new connections wait this long in the backlog.
constexpr auto kAcceptPause = std::chrono::seconds(1);

struct Connection {
  UniqueFd fd;
  ConnectionSlot slot;
  pid_t pid = 0;
  uid_t uid = static_cast<uid_t>(-1);  // nobody, until the kernel tells
  std::string partial;  // the message so far, while it spans several packets
  size_t size = 0;      // its size so far, counting what was read away beyond the limit
  bool malformed = false;
  Clock::time_point heard;
  std::list<Connection>::iterator place;  // its own place in the listener's list
};

enum class Read { kNothing, kMessage, kGone };

}  // namespace

struct LocalListener::State {
  std::string name;
  EndpointPaths paths;
  EndpointLock lock;
  UniqueFd socket;
  SocketPoller poller;
  WakeSignal wake;
  uid_t owner = ::geteuid();
  ConnectionLimits limits;
  RefusalLog refusals{""};
  // Messages of senders not allowed here: another local user could flood the trace too.
  RefusalLog strangers{""};
  std::string strangersWhy;
  // Ordered by when each was last heard from: the first is the next to fall idle.
  std::list<Connection> connections;
  Clock::time_point acceptPausedUntil = Clock::time_point::min();

  std::vector<void*> ready;  // the tags the last wait reported
  // When the last wait returned: what was silent then is idle, whatever arrived while the
  // callbacks of that round ran.
  Clock::time_point woke = Clock::now();
  std::unique_ptr<char[]> packet = std::make_unique<char[]>(kPacketText);
  std::string text;  // the message of one packet, kept to reuse its storage

  void accept(Clock::time_point now);
  Read read(Connection& c, const std::string** message);
  void serve(std::list<Connection>::iterator c, const Handle& handle, Clock::time_point now);
  bool answer(const Connection& c, const Reply& reply);
  void drop(std::list<Connection>::iterator c);
};

void LocalListener::State::accept(Clock::time_point now) {
  for (int i = 0; i < kBatch; ++i) {
    UniqueFd fd(::accept4(socket.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The connection stays in the backlog, and the socket readable: stop looking at it
        // for a while rather than spin.
        refusals.note("unknown senders", "for want of descriptors", now);
        acceptPausedUntil = now + kAcceptPause;
        poller.watch(socket.get(), &socket, false);
      }
      return;
    }
    // A sender the kernel cannot name is not let in: its uid would read as root's.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer) {
      refusals.note("unknown senders", "whose user could not be told", now);
      continue;  // closed at once
    }
    ConnectionSlot slot;
    if (connections.size() >= limits.localMax || !(slot = ConnectionSlot::take())) {
      if (connections.empty()) {
        refusals.note("uid " + std::to_string(peer.uid), "for want of descriptors", now);
        continue;  // closed at once
      }
      // At the cap the connection silent longest makes room: a flood's connections say
      // nothing, while a sender that kept its connection only connects again. So a flood
      // never locks out the next real sender.
      Connection& oldest = connections.front();
      refusals.note("uid " + std::to_string(oldest.uid), "to make room beyond the cap", now);
      slot = std::move(oldest.slot);
      drop(oldest.place);
    }
    Connection& c = connections.emplace_back();
    c.fd = std::move(fd);
    c.slot = std::move(slot);
    c.pid = peer.pid;
    c.uid = peer.uid;
    c.heard = now;
    c.place = std::prev(connections.end());
    if (!poller.watch(c.fd.get(), &c)) connections.pop_back();
  }
}

// Reads the packets that have arrived, up to the end of one message.
Read LocalListener::State::read(Connection& c, const std::string** message) {
  for (size_t i = 0; i < kPacketsPerRound; ++i) {
    Packet got;
    const int result = receivePacket(c.fd.get(), packet.get(), &got);
    if (result == 0) return Read::kGone;
    if (result < 0) return errno == EAGAIN ? Read::kNothing : Read::kGone;
    c.malformed = c.malformed || got.truncated;
    const bool single = c.size == 0 && got.last;
    c.size += got.textBytes;
    if (single) {
      text.assign(packet.get(), got.textBytes);
    } else if (c.size <= kSmMaxMessage) {
      c.partial.append(packet.get(), got.textBytes);
    } else {
      std::string().swap(c.partial);  // read away from here on
    }
    if (!got.last) continue;
    if (!single) text.swap(c.partial);
    *message = &text;
    return Read::kMessage;
  }
  return Read::kNothing;
}

bool LocalListener::State::answer(const Connection& c, const Reply& reply) {
  const std::string bytes = encodeReply(reply);
  // The sender waits for this one packet; a sender that cannot take it has gone astray.
  return ::send(c.fd.get(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL) ==
         static_cast<ssize_t>(bytes.size());
}

void LocalListener::State::drop(std::list<Connection>::iterator c) {
  poller.forget(c->fd.get());
  connections.erase(c);
}

void LocalListener::State::serve(std::list<Connection>::iterator c, const Handle& handle,
                                 Clock::time_point now) {
  const std::string* message = nullptr;
  const Read result = read(*c, &message);
  if (result == Read::kGone) return drop(c);
  c->heard = now;
  connections.splice(connections.end(), connections, c);
  if (result == Read::kNothing) return;

  Reply reply;
  if (c->size > kSmMaxMessage) {
    reply = {kSmErrTooLarge, 0};
  } else if (c->uid != 0 && c->uid != owner) {
    strangers.note("uid " + std::to_string(c->uid), strangersWhy.c_str(), now);
    reply = {0, kSmRefused};
  } else {
    reply = handle(c->malformed ? nullptr : message, static_cast<int>(c->pid));
  }
  c->size = 0;
  c->malformed = false;
  // The callback may have run for long: the sender is heard from as of its answer.
  c->heard = Clock::now();
  if (!answer(*c, reply)) drop(c);
}

LocalListener::LocalListener() : state_(std::make_unique<State>()) {}

LocalListener::~LocalListener() = default;

int LocalListener::open(const std::string& name) {
  State& s = *state_;
  s.name = name;
  s.refusals = RefusalLog("endpoint " + name);
  s.strangers = RefusalLog("endpoint " + name, "message(s)");
  s.strangersWhy = s.owner == 0 ? "as only root may send here"
                                 : "as only root and uid " + std::to_string(s.owner) + " may send here";
  s.limits = configuredLimits();
  std::string error;
  if (!endpointPaths(name, &s.paths, &error)) {
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"SmOpenEndPointU: %hs", error.c_str());
    return kSmErrTransport;
  }
  const int locked = s.lock.acquire(s.paths.lockPath);
  if (locked != 0) return locked;
  // Whatever socket file is left now belongs to a process that died.
  removeSocketFile(s.paths.socketPath);

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, s.paths.socketPath.c_str(), s.paths.socketPath.size() + 1);
  s.socket.reset(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!s.socket || !s.poller.valid() || !s.wake.valid() ||
      ::bind(s.socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(s.socket.get(), SOMAXCONN) != 0 || !s.poller.watch(s.socket.get(), &s.socket) ||
      !s.poller.watch(s.wake.descriptor(), &s.wake)) {
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"SmOpenEndPointU: cannot listen on %hs: %hs",
                            s.paths.socketPath.c_str(), std::strerror(errno));
    s.socket.reset();
    return kSmErrTransport;
  }
  return 0;
}

bool LocalListener::wait() {
  State& s = *state_;
  Clock::time_point next = std::min(s.refusals.due(), s.strangers.due());
  if (!s.connections.empty()) next = std::min(next, s.connections.front().heard + s.limits.localIdle);
  if (s.acceptPausedUntil != Clock::time_point::min()) next = std::min(next, s.acceptPausedUntil);
  const bool waited = s.poller.wait(next, &s.ready);
  s.woke = Clock::now();
  // Cleared here, before the caller serves anything: a wake raised while it serves (a
  // relayed message, a close) then ends the next wait instead of being cleared with this one.
  if (std::find(s.ready.begin(), s.ready.end(), &s.wake) != s.ready.end()) s.wake.clear();
  if (waited) return true;
  TQUtilities_TraceErrorW(L"TQSMCAPI", L"endpoint %hs: wait failed: %hs", s.name.c_str(),
                          std::strerror(errno));
  return false;
}

void LocalListener::wake() { state_->wake.raise(); }

void LocalListener::serviceRequests(const Handle& handle) {
  State& s = *state_;
  const Clock::time_point now = s.woke;
  bool arrivals = false;
  for (void* tag : s.ready) {
    if (tag == &s.wake) continue;  // used up by the wait
    if (tag == &s.socket) {
      arrivals = true;  // taken last: making room drops connections this loop may still serve
    } else {
      // Each connection appears once per wait, and serving one never drops another.
      s.serve(static_cast<Connection*>(tag)->place, handle, now);
    }
  }
  s.ready.clear();
  if (arrivals) s.accept(now);
  while (!s.connections.empty() && s.connections.front().heard + s.limits.localIdle <= now) {
    s.drop(s.connections.begin());
  }
  const Clock::time_point after = Clock::now();
  if (s.acceptPausedUntil != Clock::time_point::min() && s.acceptPausedUntil <= after) {
    s.acceptPausedUntil = Clock::time_point::min();
    s.poller.watch(s.socket.get(), &s.socket);
  }
  s.refusals.flush(after);
  s.strangers.flush(after);
}

// Frees the name. The socket file goes first, so that no new sender finds it. Requests that
// have arrived in full are answered with `leftover`; the answers already sent stay readable
// after their connection closes. A request still on its way finds its connection closed
// without an answer, which tells its sender that nobody took it. The ownership lock goes
// last, so that a new owner never finds our socket file in its way.
void LocalListener::close(const Reply& leftover) {
  State& s = *state_;
  removeSocketFile(s.paths.socketPath);
  for (Connection& c : s.connections) {
    const std::string* message = nullptr;
    while (s.read(c, &message) == Read::kMessage && s.answer(c, leftover)) c.size = 0;
  }
  s.connections.clear();
  s.socket.reset();
  s.lock.release();
}

}  // namespace kiv::bus
