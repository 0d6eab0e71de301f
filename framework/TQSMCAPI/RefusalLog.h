// The trace of connections (or messages) a listener turned away: the first after a quiet
// minute at once, then once a minute a line for each reason with how many were turned away
// for it and from where, so that a flood shows in the trace without filling it, and no
// reason is blamed for the refusals of another.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace kiv::bus {

class RefusalLog {
 public:
  using Clock = std::chrono::steady_clock;

  // `listener` names the listener in the trace ("endpoint tqHost", "TCP listener"), `what`
  // what it turns away.
  explicit RefusalLog(std::string listener, std::string what = "connection(s)")
      : listener_(std::move(listener)), what_(std::move(what)) {}

  // One connection (or message) from `from` was turned away because of `why`.
  void note(const std::string& from, const char* why, Clock::time_point now);
  // When the next line is due; Clock::time_point::max() while nothing waits to be traced.
  Clock::time_point due() const;
  // Writes the waiting line once it is due.
  void flush(Clock::time_point now);

 private:
  // The refusals of one reason since the last line.
  struct Reason {
    std::string why;
    std::map<std::string, size_t> counts;  // by source
    size_t total = 0;
  };

  void write(Clock::time_point now);

  std::string listener_;
  std::string what_;
  // In the order first met; a listener has only a handful of reasons.
  std::vector<Reason> reasons_;
  Clock::time_point lastLine_ = Clock::time_point::min();
};

}  // namespace kiv::bus
