// What reaches the TCP relay's thread from other threads: the answers to relayed messages,
// posted by the endpoints, and the request to stop. The thread waits on descriptor().
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

#include "framework/TQSMCAPI/WakeSignal.h"
#include "framework/TQSMCAPI/Wire.h"

namespace kiv::bus {

class RelayMailbox {
 public:
  using Answers = std::deque<std::pair<uint64_t, Reply>>;

  bool valid() const { return wake_.valid(); }
  WakeSignal::Descriptor descriptor() const { return wake_.descriptor(); }

  void post(uint64_t ticket, Reply reply) {
    {
      std::lock_guard lock(mutex_);
      answers_.emplace_back(ticket, reply);
    }
    wake_.raise();
  }
  void requestStop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.raise();
  }
  // Takes the answers posted so far; true once stopping was asked for. The answers taken
  // with the stop still go out before the thread ends.
  bool take(Answers* answers) {
    wake_.clear();
    std::lock_guard lock(mutex_);
    answers->swap(answers_);
    return stopping_;
  }

 private:
  WakeSignal wake_;
  std::mutex mutex_;
  Answers answers_;
  bool stopping_ = false;
};

}  // namespace kiv::bus
