// The TCP relay, the same on every system: plain sockets served by one thread. Each
// connection is taken only within the caps (in all, per remote address, and the process's
// descriptor budget), so that a flood cannot exhaust the process; one that sends nothing for
// the idle time is closed. ZeroMQ cannot serve here, as none of that can be guarded before
// its own accept: it takes whatever descriptors remain, keeps a silent connection for ever
// once its greeting is done, and aborts the process when descriptors run out.
//
// A connection carries one request at a time (see encodeRequest); while its endpoint
// handles it, the connection is not watched. Requests over the size limit are answered and
// the connection closed, since their bytes are not worth reading from another machine.
#include "framework/TQSMCAPI/TcpRelay.h"

#include <algorithm>
#include <chrono>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/BusPaths.h"
#include "framework/TQSMCAPI/ConnectionLimits.h"
#include "framework/TQSMCAPI/RefusalLog.h"
#include "framework/TQSMCAPI/SocketPoller.h"
#include "framework/TQSMCAPI/TcpSocket.h"
#include "tqUtilities.h"

namespace kiv::bus {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBatch = 64;
// The most text taken in by one receive.
constexpr size_t kTextChunk = 64 * 1024;
constexpr auto kAcceptPause = std::chrono::seconds(1);

struct Peer {
  enum class Phase { kNameLength, kName, kTextLength, kText, kWaiting };
  TcpSocket socket;
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
  TcpSocket socket;
  SocketPoller poller;
  ConnectionLimits limits = configuredLimits();
  RefusalLog refusals{"TCP listener"};

  // Touched only by the relay thread.
  std::list<Peer> peers;  // ordered by when each was last heard from
  std::unordered_map<std::string, size_t> perAddress;
  std::unordered_map<uint64_t, Peer*> waiting;
  uint64_t nextTicket = 1;
  Clock::time_point acceptPausedUntil = Clock::time_point::min();
  // Where a receive of text lands before it is added to its request.
  std::unique_ptr<char[]> scratch = std::make_unique<char[]>(kTextChunk);

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
    TcpAddress address;
    TcpSocket accepted = socket.accept(&address);
    if (!accepted) {
      if (lastSocketError() == SocketError::kNoResources) {
        refusals.note("unknown addresses", "for want of descriptors", now);
        acceptPausedUntil = now + kAcceptPause;
        poller.watch(socket.get(), &socket, false);
      }
      return;
    }
    const std::string from = tcpAddressText(reinterpret_cast<sockaddr*>(&address.address), false);
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
    peer.socket = std::move(accepted);
    peer.slot = std::move(slot);
    peer.from = from;
    peer.heard = now;
    peer.place = std::prev(peers.end());
    ++perAddress[from];
    if (!poller.watch(peer.socket.get(), &peer)) drop(peer);
  }
}

// Takes in what has arrived. False when the peer has gone, broke the format or cannot take
// an answer: the caller drops it.
bool TcpRelay::State::advance(Peer& peer) {
  while (peer.phase != Peer::Phase::kWaiting) {
    if (peer.got < peer.need) {
      const bool text = peer.phase == Peer::Phase::kText;
      size_t want = peer.need - peer.got;
      char* into = nullptr;
      if (text) {
        // The text grows only with what arrives: the announced length alone costs nothing,
        // and a peer sending a byte at a time costs no more than its bytes.
        want = std::min(want, kTextChunk);
        into = scratch.get();
      } else {
        into = (peer.phase == Peer::Phase::kName ? peer.name.data() : peer.length) + peer.got;
      }
      const long read = peer.socket.receive(into, want);
      if (read == 0) return false;
      if (read < 0) {
        const SocketError why = lastSocketError();
        if (why == SocketError::kInterrupted) continue;
        return why == SocketError::kWouldBlock;
      }
      if (text) peer.text.append(into, static_cast<size_t>(read));
      peer.got += static_cast<size_t>(read);
      continue;
    }
    peer.got = 0;
    switch (peer.phase) {
      case Peer::Phase::kNameLength:
        peer.need = decodeLength(peer.length);
        if (peer.need == 0 || peer.need > kMaxEndpointName) {
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
        peer.text.clear();
        peer.phase = Peer::Phase::kText;
        break;
      default: {
        peer.phase = Peer::Phase::kWaiting;
        peer.need = 4;
        if (!isValidEndpointName(peer.name.c_str())) return answer(peer, {kSmErrInvalidArgument, 0});
        const uint64_t ticket = nextTicket++;
        peer.ticket = ticket;
        waiting.emplace(ticket, &peer);
        // Not watched until answered: a peer that resets meanwhile would otherwise be
        // reported again and again with nothing to read. Its end shows when the answer goes.
        poller.watch(peer.socket.get(), &peer, false);
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
  return peer.socket.send(bytes.data(), bytes.size()) == static_cast<long>(bytes.size()) &&
         poller.watch(peer.socket.get(), &peer);
}

void TcpRelay::State::drop(Peer& peer) {
  if (peer.ticket != 0) waiting.erase(peer.ticket);
  if (--perAddress[peer.from] == 0) perAddress.erase(peer.from);
  poller.forget(peer.socket.get());
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
  std::vector<void*> ready;
  for (;;) {
    if (!poller.wait(nextDeadline(), &ready)) {
      TQUtilities_TraceErrorW(L"TQSMCAPI", L"TCP listener: wait failed, no longer serving: %hs",
                              lastSocketErrorText().c_str());
      return;
    }
    const Clock::time_point now = Clock::now();
    // The answers go out last: sending one may drop its peer, which must not be among the
    // ready ones still to be served.
    bool answersWaiting = false;
    for (void* tag : ready) {
      if (tag == &mailbox) {
        answersWaiting = true;
      } else if (tag == &socket) {
        accept(now);
      } else {
        serve(*static_cast<Peer*>(tag), now);
      }
    }
    if (answersWaiting) {
      RelayMailbox::Answers answers;
      const bool stop = mailbox.take(&answers);
      sendAnswers(answers);
      if (stop) return;
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
      poller.watch(socket.get(), &socket);
    }
    refusals.flush(now);
  }
}

TcpRelay::TcpRelay() = default;

TcpRelay::~TcpRelay() { stop(); }

void TcpRelay::stop() {
  if (thread_.joinable()) {
    mailbox_.requestStop();
    thread_.join();
  }
}

void TcpRelay::complete(uint64_t ticket, Reply reply) { mailbox_.post(ticket, reply); }

std::unique_ptr<TcpRelay> TcpRelay::start(const std::string& address, Deliver deliver,
                                          std::string* error) {
  std::unique_ptr<TcpRelay> relay(new TcpRelay);
  relay->state_ = std::make_unique<State>(std::move(deliver), relay->mailbox_);
  State& s = *relay->state_;
  TcpAddress at, bound;
  if (!resolveTcpAddress(address, &at)) {
    *error = "cannot listen on " + address + ": not a usable TCP address";
    return nullptr;
  }
  s.socket = TcpSocket::create(at.address.ss_family);
  if (!s.socket || !s.poller.valid() || !relay->mailbox_.valid() || !s.socket.listen(at, &bound) ||
      !s.poller.watch(s.socket.get(), &s.socket) ||
      !s.poller.watch(relay->mailbox_.descriptor(), &relay->mailbox_)) {
    *error = "cannot listen on " + address + ": " + lastSocketErrorText();
    return nullptr;
  }
  relay->bound_ = tcpAddressText(reinterpret_cast<sockaddr*>(&bound.address));
  relay->thread_ = std::thread([&s] { s.run(); });
  return relay;
}

}  // namespace kiv::bus
