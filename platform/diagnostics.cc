// Once-per-process problem reports, routed to an installable sink.
#include "platform/diagnostics.h"

#include <atomic>
#include <mutex>
#include <set>

#include "platform/diagnostics_system.h"

namespace kiv::platform {
namespace {

std::atomic<void (*)(const char*)> problemSink{nullptr};

// True the first time `text` is seen. Never destroyed, so that problems met while the
// process exits (in other objects' destructors) can still be reported.
bool firstReport(const std::string& text) {
  static auto* lock = new std::mutex;
  static auto* seen = new std::set<std::string>;
  std::lock_guard guard(*lock);
  return seen->insert(text).second;
}

}  // namespace

void reportProblem(const std::string& text) {
  if (!firstReport(text)) return;
  // Called without any lock held: the sink may itself call back into this layer.
  if (auto sink = problemSink.load()) {
    sink(text.c_str());
  } else {
    writeProblemWithoutSink(text);
  }
}

void setProblemSink(void (*sink)(const char* text)) { problemSink.store(sink); }

}  // namespace kiv::platform
