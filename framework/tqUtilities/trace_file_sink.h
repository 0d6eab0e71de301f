// The trace file sink: every line is one append-mode write, so lines from many threads
// and processes never mix, and the file is rotated by size under a lock file that all
// processes writing it share.
#pragma once

#include <spdlog/sinks/base_sink.h>

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
  void rotateIfFull();
  void rotateLocked();
  void reopen();

  std::string path_;
  std::size_t maxSize_;
  int backups_;
  int fd_ = -1;
};

}  // namespace kiv::trace
