// The trace of connections (or messages) a listener turned away: the first after a quiet
// minute at once, then one line a minute with how many were turned away and from where, so
// that a flood shows in the trace without filling it.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

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
  void write(Clock::time_point now);

  std::string listener_;
  std::string what_;
  std::string why_;
  std::map<std::string, size_t> counts_;
  size_t total_ = 0;
  Clock::time_point lastLine_ = Clock::time_point::min();
};

}  // namespace kiv::bus
