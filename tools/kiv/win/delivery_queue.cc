// The service's delivery thread: one event at a time, outside the lock, so that posting
// never waits for the plug-in.
#include "tools/kiv/win/delivery_queue.h"

#include <utility>

namespace kiv::tool {

DeliveryQueue::DeliveryQueue(HostEventDelivery deliver)
    : deliver_(std::move(deliver)), thread_([this] { run(); }) {}

DeliveryQueue::~DeliveryQueue() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    ending_ = true;
  }
  changed_.notify_one();
  thread_.join();
}

void DeliveryQueue::post(int code, const std::wstring& s1, const std::wstring& s2) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    waiting_.emplace_back(code, s1, s2);
  }
  changed_.notify_one();
}

void DeliveryQueue::run() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return ending_ || !waiting_.empty(); });
    if (waiting_.empty()) return;  // ending, with everything posted before delivered
    auto [code, s1, s2] = std::move(waiting_.front());
    waiting_.pop_front();
    guard.unlock();
    deliver_(code, s1, s2);
    guard.lock();
  }
}

}  // namespace kiv::tool
