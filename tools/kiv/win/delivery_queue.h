// Hands host events to the plug-in on a thread of its own, in the order they were posted, so
// that whoever posts them never waits for the plug-in's handling of one. The service's
// control handler needs that: it runs on the SCM's one dispatcher thread, and a stop that
// comes behind a logon must not wait for the logon's handling.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>

#include "tools/kiv/host_event_source.h"

namespace kiv::tool {

class DeliveryQueue {
 public:
  explicit DeliveryQueue(HostEventDelivery deliver);
  // Delivers what was posted before, then ends the thread: once it returns, nothing reaches
  // the plug-in any more. The events waiting are few (a session's or a power change's).
  ~DeliveryQueue();
  DeliveryQueue(const DeliveryQueue&) = delete;
  DeliveryQueue& operator=(const DeliveryQueue&) = delete;

  // Returns at once; the event follows those posted before it.
  void post(int code, const std::wstring& s1, const std::wstring& s2);

 private:
  void run();

  HostEventDelivery deliver_;
  std::mutex lock_;  // guards waiting_ and ending_
  std::condition_variable changed_;
  std::deque<std::tuple<int, std::wstring, std::wstring>> waiting_;
  bool ending_ = false;
  std::thread thread_;  // last, so that it starts with everything it uses in place
};

}  // namespace kiv::tool
