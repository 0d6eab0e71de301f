// One error trace per distinct configuration store problem.
#include "framework/tqUtilities/config_report.h"

#include <mutex>

#include "framework/tqUtilities/config_text.h"
#include "tqUtilities.h"

namespace kiv::config {
namespace {

std::mutex reportLock;
std::string lastReported;

}  // namespace

void reportProblemOnce(const std::string& message) {
  {
    std::lock_guard lock(reportLock);
    if (message == lastReported) return;
    lastReported = message;
  }
  const std::wstring wide = toWide(message);
  TQUtilities_TraceErrorW(nullptr, L"%s", wide.c_str());
}

void clearReportedProblem() {
  std::lock_guard lock(reportLock);
  lastReported.clear();
}

}  // namespace kiv::config
