// A host sink for tests: records every event the plug-in reports, from any thread, and
// can hold a chosen event code until the test lets it go.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "ITQEventSink.h"
#include "TQString.h"

namespace notifiertest {

struct Event {
  int code;
  std::wstring s1, s2, s3;
  bool operator==(const Event&) const = default;
};

class RecordingSink : public ITQEventSink {
 public:
  bool OnEventA(int code, void* sender, const TQStringA& s1, const TQStringA& s2,
                const TQStringA& s3) override {
    return forwardToOnEventW(*this, code, sender, s1, s2, s3);
  }

  bool OnEventW(int code, void*, const TQStringW& s1, const TQStringW& s2,
                const TQStringW& s3) override {
    std::unique_lock<std::mutex> lock(mutex_);
    events_.push_back({code, s1.str(), s2.str(), s3.str()});
    changed_.notify_all();
    if (code == holdCode_) {
      ++held_;
      changed_.wait(lock, [this] { return released_; });
    }
    return true;
  }

  std::vector<Event> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<int> codes() const {
    std::vector<int> result;
    for (const auto& event : events()) result.push_back(event.code);
    return result;
  }
  int count(int code) const {
    int n = 0;
    for (const auto& event : events()) n += event.code == code;
    return n;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
  }

  // Reports of `code` block in the sink until release().
  void holdCode(int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    holdCode_ = code;
    released_ = false;
  }
  int heldCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_;
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
  int holdCode_ = -1;
  int held_ = 0;
  bool released_ = true;
};

}  // namespace notifiertest
