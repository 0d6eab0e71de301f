// Line cutting and the per-run budget of the address-change script's output.
#include "tqNotify/notifier/ScriptOutput.h"

#include <utility>

namespace kiv::notifier {

using kiv::platform::OutputStream;

ScriptOutput::ScriptOutput(std::size_t budget, std::size_t lineOverhead, std::size_t maxLine, LineSink sink)
    : left_(budget), lineOverhead_(lineOverhead), maxLine_(maxLine), sink_(std::move(sink)) {}

void ScriptOutput::take(OutputStream stream, std::string_view bytes) {
  std::string& pending = pending_[static_cast<std::size_t>(stream)];
  for (const char c : bytes) {
    if (c == '\n') {
      line(stream, pending, 1);
      continue;
    }
    // A piece is cut only once more than the longest line has come, so a line of exactly
    // that length and its end stay one line. A '\r' after a full line may start its "\r\n"
    // end and waits for the next character to tell.
    if (pending.size() >= maxLine_ && !(c == '\r' && pending.size() == maxLine_)) cutPiece(stream, pending);
    pending += c;
  }
}

void ScriptOutput::finish() {
  for (const OutputStream stream : {OutputStream::kStandardOutput, OutputStream::kStandardError}) {
    std::string& pending = pending_[static_cast<std::size_t>(stream)];
    if (pending.size() > maxLine_) cutPiece(stream, pending);
    if (!pending.empty()) line(stream, pending, 0);
  }
}

// Passes on the first `maxLine_` characters; a '\r' held after them stays, as no line end.
void ScriptOutput::cutPiece(OutputStream stream, std::string& pending) {
  std::string rest = pending.substr(maxLine_);
  pending.resize(maxLine_);
  line(stream, pending, 0);
  pending = std::move(rest);
}

// Passes `text` on and empties it, or counts it as dropped once the budget is spent: a
// line that does not fit whole is dropped whole, and every line after it too, so what the
// trace shows is a beginning of the output with nothing cut out of its middle.
void ScriptOutput::line(OutputStream stream, std::string& text, std::size_t lineEnd) {
  const std::size_t written = text.size() + lineEnd;
  // A line written for Windows ends in "\r\n"; a '\r' at the end of a piece or of an
  // unfinished line ends nothing and is shown like any control character.
  if (lineEnd > 0 && !text.empty() && text.back() == '\r') text.pop_back();
  const std::size_t cost = text.size() + lineOverhead_;
  if (dropped_ > 0 || cost > left_) {
    dropped_ += written;
    text.clear();
    return;
  }
  left_ -= cost;
  // Escapes and other control characters would let a script forge or garble trace lines.
  for (char& c : text) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) c = '?';
  }
  sink_(stream, text);
  text.clear();
}

}  // namespace kiv::notifier
