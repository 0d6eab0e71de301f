// The TCP relay on Linux, on plain sockets served by one thread through epoll. ZeroMQ cannot
// serve here: it accepts every connection itself, whatever descriptors are left, keeps a
// silent one open for ever once its greeting is done, and aborts the process when it runs
// out of descriptors. Here each connection is taken only within the caps (in all, per
// remote address, and the process's descriptor budget), and one that sends nothing for the
// idle time is closed.
//
// A connection carries one request at a time (see encodeRequest); while its endpoint
// handles it, the connection is not read. Requests over the size limit are answered and
// the connection closed, since their bytes are not worth reading from another machine.
#include "framework/TQSMCAPI/TcpRelay.h"

#include <sys/epoll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include <unordered_map>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/BusPaths.h"
#include "framework/TQSMCAPI/ConnectionLimits.h"
#include "framework/TQSMCAPI/RefusalLog.h"
#include "framework/TQSMCAPI/linux/Epoll.h"
#include "framework/TQSMCAPI/linux/TcpAddress.h"
#include "framework/TQSMCAPI/linux/UniqueFd.h"

namespace kiv::bus {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBatch = 64;
constexpr size_t kMaxName = 64;
constexpr auto kAcceptPause = std::chrono::seconds(1);

struct Peer {
  enum class Phase { kNameLength, kName, kTextLength, kText, kWaiting };
  UniqueFd fd;
  ConnectionSlot slot;
  std::string from;  // the remote address, without port
  Phase phase = Phase::kNameLength;
  char length[4] = {};
  size_t need = 4;
  size_t got = 0;
  std::string name;
  std::string text;
  uint64_t ticket = 0;
  Clock::time_point heard;
  std::list<Peer>::iterator place;
};

}  // namespace

struct TcpRelay::State {
  State(Deliver deliver, RelayMailbox& mailbox) : deliver(std::move(deliver)), mailbox(mailbox) {}

  Deliver deliver;
  RelayMailbox& mailbox;
  UniqueFd socket;
  UniqueFd epoll;
  ConnectionLimits limits = configuredLimits();
  RefusalLog refusals{"TCP listener"};

  // Touched only by the relay thread.
  std::list<Peer> peers;  // ordered by when each was last heard from
  std::unordered_map<std::string, size_t> perAddress;
  std::unordered_map<uint64_t, Peer*> waiting;
  uint64_t nextTicket = 1;
  Clock::time_point acceptPausedUntil = Clock::time_point::min();

  bool watch(int fd, uint32_t events, void* tag, int operation = EPOLL_CTL_ADD) {
    return epollWatch(epoll.get(), fd, events, tag, operation);
  }
  void run();
  void accept(Clock::time_point now);
  void serve(Peer& peer, Clock::time_point now);
  bool advance(Peer& peer);
  bool answer(Peer& peer, const Reply& reply);
  void drop(Peer& peer);
  void sendAnswers(const RelayMailbox::Answers& answers);
  Clock::time_point nextDeadline() const;
};

void TcpRelay::State::accept(Clock::time_point now) {
  for (int i = 0; i < kBatch; ++i) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    UniqueFd fd(::accept4(socket.get(), reinterpret_cast<sockaddr*>(&address), &size,
                          SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        refusals.note("unknown addresses", "for want of descriptors", now);
        acceptPausedUntil = now + kAcceptPause;
        watch(socket.get(), 0, &socket, EPOLL_CTL_MOD);
      }
      return;
    }
    const std::string from = tcpAddressText(reinterpret_cast<sockaddr*>(&address), false);
    const char* refusal = nullptr;
    ConnectionSlot slot;
    if (peers.size() >= limits.tcpMax) {
      refusal = "beyond the cap of TCP connections";
    } else if (perAddress[from] >= limits.tcpPerAddress) {
      refusal = "beyond the cap of TCP connections per address";
    } else if (!(slot = ConnectionSlot::take())) {
      refusal = "to keep descriptors for the process's own work";
    }
    if (refusal != nullptr) {
      if (perAddress[from] == 0) perAddress.erase(from);
      refusals.note(from, refusal, now);
      continue;
    }
    Peer& peer = peers.emplace_back();
    peer.fd = std::move(fd);
    peer.slot = std::move(slot);
    peer.from = from;
    peer.heard = now;
    peer.place = std::prev(peers.end());
    ++perAddress[from];
    if (!watch(peer.fd.get(), EPOLLIN, &peer)) drop(peer);
  }
}

// Takes in what has arrived. False when the peer has gone, broke the format or cannot take
// an answer: the caller drops it.
bool TcpRelay::State::advance(Peer& peer) {
  while (peer.phase != Peer::Phase::kWaiting) {
    if (peer.got < peer.need) {
      char* into = peer.phase == Peer::Phase::kName   ? peer.name.data()
                   : peer.phase == Peer::Phase::kText ? peer.text.data()
                                                      : peer.length;
      const ssize_t read = ::recv(peer.fd.get(), into + peer.got, peer.need - peer.got, MSG_DONTWAIT);
      if (read == 0) return false;
      if (read < 0) {
        if (errno == EINTR) continue;
        return errno == EAGAIN;
      }
      peer.got += static_cast<size_t>(read);
      continue;
    }
    peer.got = 0;
    switch (peer.phase) {
      case Peer::Phase::kNameLength:
        peer.need = decodeLength(peer.length);
        if (peer.need == 0 || peer.need > kMaxName) {
          answer(peer, {kSmErrInvalidArgument, 0});
          return false;
        }
        peer.name.assign(peer.need, '\0');
        peer.phase = Peer::Phase::kName;
        break;
      case Peer::Phase::kName:
        peer.need = 4;
        peer.phase = Peer::Phase::kTextLength;
        break;
      case Peer::Phase::kTextLength:
        peer.need = decodeLength(peer.length);
        if (peer.need > kSmMaxMessage) {
          answer(peer, {kSmErrTooLarge, 0});
          return false;
        }
        peer.text.assign(peer.need, '\0');
        peer.phase = Peer::Phase::kText;
        break;
      default: {
        peer.phase = Peer::Phase::kWaiting;
        peer.need = 4;
        if (!isValidEndpointName(peer.name.c_str())) return answer(peer, {kSmErrInvalidArgument, 0});
        const uint64_t ticket = nextTicket++;
        peer.ticket = ticket;
        waiting.emplace(ticket, &peer);
        // Not read until answered; a hang-up still shows.
        watch(peer.fd.get(), 0, &peer, EPOLL_CTL_MOD);
        if (!deliver(peer.name, ticket, std::move(peer.text))) return answer(peer, {kSmErrNoListener, 0});
        return true;
      }
    }
  }
  return true;
}

// Sends the answer and makes ready for the next request. False when the peer cannot take it.
bool TcpRelay::State::answer(Peer& peer, const Reply& reply) {
  if (peer.ticket != 0) waiting.erase(peer.ticket);
  peer.ticket = 0;
  peer.phase = Peer::Phase::kNameLength;
  peer.heard = Clock::now();
  peers.splice(peers.end(), peers, peer.place);
  const std::string bytes = encodeReply(reply);
  return ::send(peer.fd.get(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL) ==
             static_cast<ssize_t>(bytes.size()) &&
         watch(peer.fd.get(), EPOLLIN, &peer, EPOLL_CTL_MOD);
}

void TcpRelay::State::drop(Peer& peer) {
  if (peer.ticket != 0) waiting.erase(peer.ticket);
  if (--perAddress[peer.from] == 0) perAddress.erase(peer.from);
  ::epoll_ctl(epoll.get(), EPOLL_CTL_DEL, peer.fd.get(), nullptr);
  peers.erase(peer.place);
}

void TcpRelay::State::serve(Peer& peer, Clock::time_point now) {
  if (!advance(peer)) return drop(peer);
  peer.heard = now;
  peers.splice(peers.end(), peers, peer.place);
}

void TcpRelay::State::sendAnswers(const RelayMailbox::Answers& answers) {
  for (const auto& [ticket, reply] : answers) {
    auto found = waiting.find(ticket);
    if (found != waiting.end() && !answer(*found->second, reply)) drop(*found->second);
  }
}

Clock::time_point TcpRelay::State::nextDeadline() const {
  Clock::time_point next = refusals.due();
  for (const Peer& peer : peers) {
    if (peer.phase == Peer::Phase::kWaiting) continue;
    next = std::min(next, peer.heard + limits.tcpIdle);
    break;  // the rest were heard from later
  }
  if (acceptPausedUntil != Clock::time_point::min()) next = std::min(next, acceptPausedUntil);
  return next;
}

void TcpRelay::State::run() {
  epoll_event events[kBatch];
  for (;;) {
    const int ready = ::epoll_wait(epoll.get(), events, kBatch, epollTimeout(nextDeadline()));
    if (ready < 0 && errno != EINTR) return;
    const Clock::time_point now = Clock::now();
    for (int i = 0; i < ready; ++i) {
      void* tag = events[i].data.ptr;
      if (tag == &mailbox) {
        RelayMailbox::Answers answers;
        const bool stop = mailbox.take(&answers);
        sendAnswers(answers);
        if (stop) return;
      } else if (tag == &socket) {
        accept(now);
      } else {
        serve(*static_cast<Peer*>(tag), now);
      }
    }
    // Silent connections go; those whose request is being handled are not silent.
    for (auto it = peers.begin(); it != peers.end() && it->heard + limits.tcpIdle <= now;) {
      Peer& peer = *it++;
      if (peer.phase == Peer::Phase::kWaiting) {
        peer.heard = now;
        peers.splice(peers.end(), peers, peer.place);
      } else {
        drop(peer);
      }
    }
    if (acceptPausedUntil != Clock::time_point::min() && acceptPausedUntil <= now) {
      acceptPausedUntil = Clock::time_point::min();
      watch(socket.get(), EPOLLIN, &socket, EPOLL_CTL_MOD);
    }
    refusals.flush(now);
  }
}

TcpRelay::TcpRelay() = default;

TcpRelay::~TcpRelay() { stop(); }

std::unique_ptr<TcpRelay> TcpRelay::start(const std::string& address, Deliver deliver,
                                          std::string* error) {
  std::unique_ptr<TcpRelay> relay(new TcpRelay);
  relay->state_ = std::make_unique<State>(std::move(deliver), relay->mailbox_);
  State& s = *relay->state_;
  TcpAddress at;
  if (!resolveTcpAddress(address, &at)) {
    *error = "cannot listen on " + address + ": not a usable TCP address";
    return nullptr;
  }
  const int yes = 1;
  s.socket.reset(::socket(at.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  s.epoll.reset(::epoll_create1(EPOLL_CLOEXEC));
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  if (!s.socket || !s.epoll || !relay->mailbox_.valid() ||
      ::setsockopt(s.socket.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
      ::bind(s.socket.get(), reinterpret_cast<sockaddr*>(&at.address), at.size) != 0 ||
      ::listen(s.socket.get(), SOMAXCONN) != 0 ||
      ::getsockname(s.socket.get(), reinterpret_cast<sockaddr*>(&bound), &size) != 0 ||
      !s.watch(s.socket.get(), EPOLLIN, &s.socket) ||
      !s.watch(relay->mailbox_.descriptor(), EPOLLIN, &relay->mailbox_)) {
    *error = "cannot listen on " + address + ": " + std::strerror(errno);
    return nullptr;
  }
  relay->bound_ = tcpAddressText(reinterpret_cast<sockaddr*>(&bound));
  relay->thread_ = std::thread([&s] { s.run(); });
  return relay;
}

}  // namespace kiv::bus
