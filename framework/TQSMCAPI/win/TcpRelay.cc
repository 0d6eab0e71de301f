// The TCP relay on Windows, through ZeroMQ: requests from other machines come in on the
// ROUTER socket, go to the named endpoint's delivery thread, and their answers come back
// through the mailbox.
#include "framework/TQSMCAPI/TcpRelay.h"

#include <zmq.h>

#include <cerrno>
#include <unordered_map>
#include <utility>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/win/Zmq.h"

namespace kiv::bus {
namespace {

constexpr int64_t kMaxFrameOnWire = 2 * static_cast<int64_t>(kSmMaxMessage);
constexpr int kBatch = 64;

}  // namespace

struct TcpRelay::State {
  State(Deliver deliver, RelayMailbox& mailbox) : deliver_(std::move(deliver)), mailbox_(mailbox) {}
  void run();
  void serviceRequests();
  void sendAnswers(const RelayMailbox::Answers& answers);

  Deliver deliver_;
  RelayMailbox& mailbox_;
  ZmqSocket socket_;

  // Envelopes of messages handed to endpoints; touched only by the relay thread.
  std::unordered_map<uint64_t, Frames> waiting_;
  uint64_t nextTicket_ = 1;
};

TcpRelay::TcpRelay() = default;

TcpRelay::~TcpRelay() {
  stop();
  state_->socket_.reset();
}

std::unique_ptr<TcpRelay> TcpRelay::start(const std::string& address, Deliver deliver,
                                          std::string* error) {
  std::unique_ptr<TcpRelay> relay(new TcpRelay);
  relay->state_ = std::make_unique<State>(std::move(deliver), relay->mailbox_);
  State& s = *relay->state_;
  s.socket_ = ZmqSocket(busContext(), ZMQ_ROUTER);
  void* socket = s.socket_.get();
  // Answers sent just before the listener stops still reach their senders.
  if (socket == nullptr || !relay->mailbox_.valid() || !s.socket_.setInt(ZMQ_LINGER, kAnswerLingerMs) ||
      zmq_setsockopt(socket, ZMQ_MAXMSGSIZE, &kMaxFrameOnWire, sizeof kMaxFrameOnWire) != 0 ||
      zmq_bind(socket, address.c_str()) != 0) {
    *error = std::string("cannot listen on ") + address + ": " + zmq_strerror(zmq_errno());
    return nullptr;
  }
  char bound[256] = {};
  size_t size = sizeof bound;
  zmq_getsockopt(socket, ZMQ_LAST_ENDPOINT, bound, &size);
  relay->bound_ = bound;
  relay->thread_ = std::thread([raw = &s] { raw->run(); });
  return relay;
}

void TcpRelay::State::run() {
  zmq_pollitem_t items[2] = {{socket_.get(), 0, ZMQ_POLLIN, 0},
                             {nullptr, mailbox_.descriptor(), ZMQ_POLLIN, 0}};
  for (;;) {
    if (zmq_poll(items, 2, -1) < 0 && zmq_errno() != EINTR) break;
    if (items[1].revents != 0) {
      RelayMailbox::Answers answers;
      const bool stopping = mailbox_.take(&answers);
      sendAnswers(answers);
      if (stopping) return;
    }
    if (items[0].revents != 0) serviceRequests();
  }
}

void TcpRelay::State::serviceRequests() {
  for (int i = 0; i < kBatch; ++i) {
    Frames frames, envelope, body;
    bool truncated = false;
    if (!receiveFrames(socket_.get(), &frames, true, 16, &truncated)) return;
    if (!splitEnvelope(std::move(frames), &envelope, &body)) continue;
    Reply refusal;
    if (body.size() != 2 || truncated) {
      refusal = {kSmErrInvalidArgument, 0};
    } else if (body[1].size() > kSmMaxMessage) {
      refusal = {kSmErrTooLarge, 0};
    } else {
      const uint64_t ticket = nextTicket_++;
      waiting_.emplace(ticket, std::move(envelope));
      if (deliver_(body[0], ticket, std::move(body[1]))) continue;
      envelope = std::move(waiting_[ticket]);
      waiting_.erase(ticket);
      refusal = {kSmErrNoListener, 0};
    }
    sendFrames(socket_.get(), answer(std::move(envelope), refusal), ZMQ_DONTWAIT);
  }
}

void TcpRelay::State::sendAnswers(const RelayMailbox::Answers& answers) {
  for (const auto& [ticket, reply] : answers) {
    auto found = waiting_.find(ticket);
    if (found == waiting_.end()) continue;
    sendFrames(socket_.get(), answer(std::move(found->second), reply), ZMQ_DONTWAIT);
    waiting_.erase(found);
  }
}

}  // namespace kiv::bus
