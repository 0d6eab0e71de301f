// The trace file sink: every line is one append-mode write, so lines from many threads
// and processes never mix, and the file is rotated by size under a lock file that all
// processes writing it share.
#pragma once

#include <spdlog/sinks/base_sink.h>

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

namespace kiv::trace {

class TraceFileSink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  // Keeps `backups` older files beside `path` (path.1 is the newest of them).
  TraceFileSink(std::string path, std::size_t maxSize, int backups);
  ~TraceFileSink() override;
  TraceFileSink(const TraceFileSink&) = delete;
  TraceFileSink& operator=(const TraceFileSink&) = delete;

  // False when the file could not be opened; *error then says why.
  bool open(std::string* error);

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override;
  void flush_() override {}

 private:
  using Clock = std::chrono::steady_clock;

  // Asking the system for the file's size would cost a call per line. It is asked when this
  // process's own writes may have filled the file, and otherwise at most every 100 ms, since
  // other processes write it too: a line written meanwhile may follow the file another
  // process has just rotated, and is then the last one there.
  bool sizeCheckDue(std::size_t adding) const {
    return knownSize_ + written_ + adding >= maxSize_ || Clock::now() >= nextSizeCheck_;
  }
  // Rotates when the file has reached its maximum size.
  void rotateIfFull();
  // A newly opened file's size is not known yet.
  void forgetSize() {
    knownSize_ = 0;
    written_ = 0;
    nextSizeCheck_ = {};
  }

  // Each system's own.
  bool currentSize(std::size_t* size) const;
  void writeLine(const char* data, std::size_t size);
  // Under the lock file: rotates, unless another process has already, and reopens.
  void rotateShared();
  void rotateLocked();
  void reopen();

  std::string path_;
  std::size_t maxSize_;
  int backups_;
  int fd_ = -1;
  std::size_t knownSize_ = 0;
  std::size_t written_ = 0;
  Clock::time_point nextSizeCheck_{};
};

}  // namespace kiv::trace
