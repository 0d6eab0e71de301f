// The pipes that carry a started process's standard output and standard error back to the
// host, read with overlapped I/O while the host waits for the process, and the job object
// that holds the process and everything it starts.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "platform/process.h"
#include "platform/win/unique_handle.h"

namespace kiv::platform {

struct OutputPipes {
  struct Stream {
    win::UniqueHandle read;   // our end, overlapped
    win::UniqueHandle write;  // the child's end, inheritable
    win::UniqueHandle done;   // signalled when a read completes
    OVERLAPPED overlapped{};
    std::array<char, 65536> buffer{};
    bool pending = false;
    bool closed = false;
  };

  // Null, with the last error set, when the pipes or the job cannot be made.
  static std::unique_ptr<OutputPipes> open();
  ~OutputPipes();

  // Once the child has its copies, the host gives up its own, so that the pipes report
  // their end as soon as the child and what it started have closed theirs.
  void closeChildEnds();
  // Reads until `process` is signalled or `timeoutMs` pass; the result as for waitOne.
  uint32_t readUntilEnd(HANDLE process, uint32_t timeoutMs, const OutputReceiver& receiver);

  std::array<Stream, 2> streams;
  win::UniqueHandle job;

 private:
  // Starts a read unless one is under way; hands on a read that completed at once.
  void issue(Stream& stream);
  // Takes a completed read and starts the next; false when nothing had completed.
  bool collect(Stream& stream, OutputStream which, const OutputReceiver& receiver);
};

}  // namespace kiv::platform
