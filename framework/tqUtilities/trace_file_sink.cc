// What the trace file sink does alike on every system: when to look at the file's size, and
// one append per line.
#include "framework/tqUtilities/trace_file_sink.h"

#include <utility>

namespace kiv::trace {

TraceFileSink::TraceFileSink(std::string path, std::size_t maxSize, int backups)
    : path_(std::move(path)), maxSize_(maxSize), backups_(backups) {}

void TraceFileSink::sink_it_(const spdlog::details::log_msg& message) {
  spdlog::memory_buf_t line;
  formatter_->format(message, line);
  if (sizeCheckDue(line.size())) rotateIfFull();
  if (fd_ < 0) return;
  writeLine(line.data(), line.size());
  written_ += line.size();
}

void TraceFileSink::rotateIfFull() {
  std::size_t size = 0;
  if (fd_ < 0 || !currentSize(&size)) return;
  knownSize_ = size;
  written_ = 0;
  nextSizeCheck_ = Clock::now() + std::chrono::milliseconds(100);
  if (size >= maxSize_) rotateShared();
}

}  // namespace kiv::trace
