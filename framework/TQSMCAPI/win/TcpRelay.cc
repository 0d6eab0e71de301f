// The TCP relay on Windows, through ZeroMQ: requests from other machines come in on the
// ROUTER socket, go to the named endpoint's delivery thread, and their answers come back
// through `completed_`.
#include "framework/TQSMCAPI/TcpRelay.h"

#include <zmq.h>

#include <cerrno>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "framework/TQSMCAPI/WakeSignal.h"
#include "framework/TQSMCAPI/win/Zmq.h"

#include "TQSMCAPI.h"
#include "tqUtilities.h"

namespace kiv::bus {
namespace {

constexpr int64_t kMaxFrameOnWire = 2 * static_cast<int64_t>(kSmMaxMessage);
constexpr int kBatch = 64;

}  // namespace

struct TcpRelay::State {
  explicit State(Deliver deliver) : deliver_(std::move(deliver)) {}
  void run();
  void serviceRequests();
  void sendCompleted();

  Deliver deliver_;
  ZmqSocket socket_;
  WakeSignal wake_;
  bool stopping_ = false;  // guarded by mutex_
  std::thread thread_;

  // Envelopes of messages handed to endpoints; touched only by the relay thread.
  std::unordered_map<uint64_t, Frames> waiting_;
  uint64_t nextTicket_ = 1;

  std::mutex mutex_;
  std::deque<std::pair<uint64_t, Reply>> completed_;
};

TcpRelay::TcpRelay() = default;

std::unique_ptr<TcpRelay> TcpRelay::start(const std::string& address, Deliver deliver,
                                          std::string* error) {
  std::unique_ptr<TcpRelay> relay(new TcpRelay);
  relay->state_ = std::make_unique<State>(std::move(deliver));
  State& s = *relay->state_;
  s.socket_ = ZmqSocket(busContext(), ZMQ_ROUTER);
  void* socket = s.socket_.get();
  // Answers sent just before the listener stops still reach their senders.
  if (socket == nullptr || !s.wake_.valid() || !s.socket_.setInt(ZMQ_LINGER, kAnswerLingerMs) ||
      zmq_setsockopt(socket, ZMQ_MAXMSGSIZE, &kMaxFrameOnWire, sizeof kMaxFrameOnWire) != 0 ||
      zmq_bind(socket, address.c_str()) != 0) {
    *error = std::string("cannot listen on ") + address + ": " + zmq_strerror(zmq_errno());
    return nullptr;
  }
  char bound[256] = {};
  size_t size = sizeof bound;
  zmq_getsockopt(socket, ZMQ_LAST_ENDPOINT, bound, &size);
  relay->bound_ = bound;
  s.thread_ = std::thread([raw = &s] { raw->run(); });
  return relay;
}

TcpRelay::~TcpRelay() {
  State& s = *state_;
  if (s.thread_.joinable()) {
    {
      std::lock_guard lock(s.mutex_);
      s.stopping_ = true;
    }
    s.wake_.raise();
    s.thread_.join();
  }
  s.socket_.reset();
}

void TcpRelay::complete(uint64_t ticket, Reply reply) {
  State& s = *state_;
  {
    std::lock_guard lock(s.mutex_);
    s.completed_.emplace_back(ticket, reply);
  }
  s.wake_.raise();
}

void TcpRelay::State::run() {
  zmq_pollitem_t items[2] = {{socket_.get(), 0, ZMQ_POLLIN, 0}, zmq_pollitem_t{nullptr, wake_.descriptor(), ZMQ_POLLIN, 0}};
  for (;;) {
    if (zmq_poll(items, 2, -1) < 0 && zmq_errno() != EINTR) break;
    if (items[1].revents != 0) {
      wake_.clear();
      bool stopping = false;
      {
        std::lock_guard lock(mutex_);
        stopping = stopping_;
      }
      // The endpoints' last answers are completed before the listener is told to stop.
      sendCompleted();
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

void TcpRelay::State::sendCompleted() {
  std::deque<std::pair<uint64_t, Reply>> done;
  {
    std::lock_guard lock(mutex_);
    done.swap(completed_);
  }
  for (auto& [ticket, reply] : done) {
    auto found = waiting_.find(ticket);
    if (found == waiting_.end()) continue;
    sendFrames(socket_.get(), answer(std::move(found->second), reply), ZMQ_DONTWAIT);
    waiting_.erase(found);
  }
}

}  // namespace kiv::bus
