// The endpoint's delivery thread. Everything a callback sees is delivered here, one message
// at a time; closing flips `closing_` and wakes the thread, which answers whatever is still
// queued as "no listener" instead of calling back.
#include "framework/TQSMCAPI/Endpoint.h"

#include <sys/eventfd.h>
#include <unistd.h>
#include <zmq.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "framework/TQSMCAPI/TcpRelay.h"
#include "tqUtilities.h"

namespace kiv::bus {

const char kLocalOrigin = 'L';
const char kRemoteOrigin = 'R';

namespace {

// Messages a little over the limit still get a "too large" answer; anything far beyond it
// makes ZeroMQ drop the connection before the bytes are buffered.
constexpr int64_t kMaxFrameOnWire = 2 * static_cast<int64_t>(kSmMaxMessage);
// Local messages handled per wake-up before the thread looks at its other inputs again.
constexpr int kBatch = 64;
// A close still waiting after this long says so in the trace, once per period.
constexpr auto kCloseWarningPeriod = std::chrono::seconds(5);

void* originTag(const char* origin) { return const_cast<char*>(origin); }

}  // namespace

Endpoint::Endpoint(std::string name, SmCallback callback, void* context)
    : name_(std::move(name)), callback_(callback), context_(context) {}

Endpoint::~Endpoint() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

int Endpoint::open(const std::string& name, SmCallback callback, void* context,
                   const std::shared_ptr<TcpRelay>& relay,
                   std::shared_ptr<Endpoint>* endpoint) {
  std::shared_ptr<Endpoint> created(new Endpoint(name, callback, context));
  const int result = created->bind(relay);
  if (result != 0) return result;
  *endpoint = std::move(created);
  return 0;
}

void Endpoint::start() {
  thread_ = std::thread([self = shared_from_this()] { self->run(); });
}

int Endpoint::bind(const std::shared_ptr<TcpRelay>& relay) {
  std::string error;
  if (!endpointPaths(name_, &paths_, &error)) {
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"SmOpenEndPointU: %hs", error.c_str());
    return kSmErrTransport;
  }
  const int locked = lock_.acquire(paths_.lockPath);
  if (locked != 0) return locked;
  // Whatever socket file is left now belongs to a process that died.
  ::unlink(paths_.socketPath.c_str());

  socket_ = ZmqSocket(busContext(), ZMQ_ROUTER);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (!socket_ || wakeFd_ < 0 || !socket_.setInt(ZMQ_LINGER, kAnswerLingerMs) ||
      zmq_setsockopt(socket_.get(), ZMQ_MAXMSGSIZE, &kMaxFrameOnWire, sizeof kMaxFrameOnWire) != 0 ||
      zmq_bind(socket_.get(), paths_.address.c_str()) != 0) {
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"SmOpenEndPointU: cannot listen on %hs: %hs",
                            paths_.address.c_str(), zmq_strerror(zmq_errno()));
    socket_.reset();
    return kSmErrTransport;
  }
  relay_ = relay;
  return 0;
}

bool Endpoint::enqueueRemote(uint64_t ticket, std::string text) {
  {
    std::lock_guard lock(inboxMutex_);
    if (closing_.load()) return false;
    inbox_.push_back({ticket, std::move(text)});
  }
  wake();
  return true;
}

void Endpoint::wake() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void Endpoint::close() {
  {
    // Taken with the inbox lock so that no relayed message slips in behind the flag.
    std::lock_guard lock(inboxMutex_);
    closing_.store(true);
  }
  wake();
  if (std::this_thread::get_id() == thread_.get_id()) {
    thread_.detach();
    return;
  }
  waitUntilFinished();
  if (thread_.joinable()) thread_.join();
}

void Endpoint::waitUntilFinished() {
  std::unique_lock lock(doneMutex_);
  while (!doneChanged_.wait_for(lock, kCloseWarningPeriod, [this] { return done_; })) {
    // A callback that never returns (typically one waiting for a lock held by the closer)
    // would otherwise hang here without a word.
    TQUtilities_TraceErrorW(L"TQSMCAPI",
                            L"SmCloseEndPoint: still waiting for a callback of endpoint %hs",
                            name_.c_str());
  }
}

void Endpoint::run() {
  zmq_pollitem_t items[2] = {{socket_.get(), 0, ZMQ_POLLIN, 0}, {nullptr, wakeFd_, ZMQ_POLLIN, 0}};
  while (!closing_.load()) {
    if (zmq_poll(items, 2, -1) < 0) {
      if (zmq_errno() == EINTR) continue;
      TQUtilities_TraceErrorW(L"TQSMCAPI", L"endpoint %hs: poll failed: %hs", name_.c_str(),
                              zmq_strerror(zmq_errno()));
      break;
    }
    if (items[1].revents != 0) {
      uint64_t count = 0;
      [[maybe_unused]] ssize_t got = ::read(wakeFd_, &count, sizeof count);
      serviceRemote();
    }
    if (items[0].revents != 0) serviceLocal();
  }
  refuseLeftovers();
  release();
}

bool Endpoint::serviceLocal() {
  for (int i = 0; i < kBatch && !closing_.load(); ++i) {
    Frames frames, envelope, body;
    bool truncated = false;
    if (!receiveFrames(socket_.get(), &frames, true, 16, &truncated)) return false;
    // Without an envelope there is nobody to answer.
    if (!splitEnvelope(std::move(frames), &envelope, &body)) continue;
    const Reply reply = deliver(body.size() == 1 && !truncated ? &body[0] : nullptr, &kLocalOrigin);
    sendFrames(socket_.get(), answer(std::move(envelope), reply), ZMQ_DONTWAIT);
  }
  return true;
}

void Endpoint::serviceRemote() {
  for (;;) {
    Remote next;
    {
      std::lock_guard lock(inboxMutex_);
      if (inbox_.empty() || closing_.load()) return;
      next = std::move(inbox_.front());
      inbox_.pop_front();
    }
    relay_->complete(next.ticket, deliver(&next.text, &kRemoteOrigin));
  }
}

Reply Endpoint::deliver(const std::string* text, const char* origin) {
  if (text == nullptr) return {kSmErrInvalidArgument, 0};
  if (text->size() > kSmMaxMessage) return {kSmErrTooLarge, 0};
  if (closing_.load()) return {kSmErrNoListener, 0};
  SmMessage message{static_cast<uint32_t>(text->size()), text->c_str()};
  try {
    return {0, callback_(this, nullptr, originTag(origin), 1, &message, context_)};
  } catch (...) {
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"endpoint %hs: callback raised an exception",
                            name_.c_str());
    return {kSmErrTransport, 0};
  }
}

void Endpoint::refuseLeftovers() {
  const Reply gone{kSmErrNoListener, 0};
  Frames frames, envelope, body;
  while (socket_ && receiveFrames(socket_.get(), &frames, true)) {
    if (splitEnvelope(std::move(frames), &envelope, &body)) {
      sendFrames(socket_.get(), answer(std::move(envelope), gone), ZMQ_DONTWAIT);
    }
  }
  std::deque<Remote> left;
  {
    std::lock_guard lock(inboxMutex_);
    left.swap(inbox_);
  }
  for (const Remote& remote : left) relay_->complete(remote.ticket, gone);
}

// Frees the name: the socket and its file go first, the ownership lock last, so that a new
// owner never finds our socket file in its way. The answers already given still go out
// after the close (the socket lingers), and each connection closes behind its answers. ZeroMQ closes the listening descriptor a
// moment later on its own thread but never removes the file itself, so the removal here
// cannot hit a socket file that a new owner has made meanwhile.
void Endpoint::release() {
  socket_.reset();
  ::unlink(paths_.socketPath.c_str());
  lock_.release();
  relay_.reset();
  {
    std::lock_guard lock(doneMutex_);
    done_ = true;
  }
  doneChanged_.notify_all();
}

}  // namespace kiv::bus
