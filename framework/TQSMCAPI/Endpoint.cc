// The endpoint's delivery thread. Everything a callback sees is delivered here, one message
// at a time; closing flips `closing_` and wakes the thread, which answers whatever is still
// queued as "no listener" instead of calling back.
#include "framework/TQSMCAPI/Endpoint.h"

#include <chrono>

#include "framework/TQSMCAPI/TcpRelay.h"
#include "tqUtilities.h"

namespace kiv::bus {

const char kLocalOrigin = 'L';
const char kRemoteOrigin = 'R';

namespace {

// A close still waiting after this long says so in the trace, once per period.
constexpr auto kCloseWarningPeriod = std::chrono::seconds(5);

void* originTag(const char* origin) { return const_cast<char*>(origin); }

}  // namespace

Endpoint::Endpoint(std::string name, SmCallback callback, void* context)
    : name_(std::move(name)), callback_(callback), context_(context) {}

Endpoint::~Endpoint() = default;

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
  const int result = listener_.open(name_);
  if (result != 0) return result;
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

void Endpoint::wake() { listener_.wake(); }

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
  const LocalListener::Handle local = [this](const std::string* text, int senderPid) {
    return deliver(text, &kLocalOrigin, senderPid);
  };
  while (!closing_.load()) {
    serviceRemote();
    listener_.serviceRequests(local);
    if (!listener_.wait()) break;
  }
  refuseLeftovers();
  release();
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
    relay_->complete(next.ticket, deliver(&next.text, &kRemoteOrigin, 0));
  }
}

Reply Endpoint::deliver(const std::string* text, const char* origin, int senderPid) {
  if (text == nullptr) return {kSmErrInvalidArgument, 0};
  if (text->size() > kSmMaxMessage) return {kSmErrTooLarge, 0};
  if (closing_.load()) return {kSmErrNoListener, 0};
  // Fine detail: at the default level a line per message would cost more than the message.
  if (origin == &kLocalOrigin) {
    TQUtilities_TraceExW(L"TQSMCAPI", 4, L"endpoint %hs: message of %u bytes from pid %d",
                         name_.c_str(), static_cast<unsigned>(text->size()), senderPid);
  } else {
    TQUtilities_TraceExW(L"TQSMCAPI", 4, L"endpoint %hs: message of %u bytes from another machine",
                         name_.c_str(), static_cast<unsigned>(text->size()));
  }
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
  listener_.close(gone);
  std::deque<Remote> left;
  {
    std::lock_guard lock(inboxMutex_);
    left.swap(inbox_);
  }
  for (const Remote& remote : left) relay_->complete(remote.ticket, gone);
}

// The name is free again (the listener gave it up with the leftovers): the closer may go on.
void Endpoint::release() {
  relay_.reset();
  {
    std::lock_guard lock(doneMutex_);
    done_ = true;
  }
  doneChanged_.notify_all();
}

}  // namespace kiv::bus
