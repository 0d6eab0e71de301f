// What the address-change script writes, cut into lines for the trace, within a budget per
// run so that a script that writes without end can neither fill the disk nor, since it is
// still read to the end, block on a full pipe and hold the host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/process.h"

namespace kiv::notifier {

class ScriptOutput {
 public:
  // Receives each line kept, without its line end, control characters shown as '?'.
  using LineSink = std::function<void(kiv::platform::OutputStream stream, const std::string& line)>;

  // `budget` bytes of trace per run, each line counted with `lineOverhead` more for what the
  // tracer puts before it. A line longer than `maxLine` is passed on in pieces.
  ScriptOutput(std::size_t budget, std::size_t lineOverhead, std::size_t maxLine, LineSink sink);

  void take(kiv::platform::OutputStream stream, std::string_view bytes);
  // Passes on what is left of unfinished lines.
  void finish();
  // Bytes written beyond the budget, line ends included.
  uint64_t dropped() const { return dropped_; }

 private:
  // `lineEnd` is the length of the line end that came with `text` (none for a piece of a
  // long line or an unfinished last one).
  void line(kiv::platform::OutputStream stream, std::string& text, std::size_t lineEnd);
  void cutPiece(kiv::platform::OutputStream stream, std::string& pending);

  std::size_t left_;
  std::size_t lineOverhead_;
  std::size_t maxLine_;
  LineSink sink_;
  std::array<std::string, 2> pending_;
  uint64_t dropped_ = 0;
};

}  // namespace kiv::notifier
