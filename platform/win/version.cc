// The Windows version word from GetVersion itself; a test may put another version in its
// place for this process.
#include "platform/version.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "platform/diagnostics.h"

namespace kiv::platform {
namespace {

// The override: bit 32 says whether one is set, the low word is the version.
std::atomic<uint64_t> overrideWord{0};
constexpr uint64_t kOverrideSet = uint64_t(1) << 32;

}  // namespace

uint32_t getVersion() {
  const uint64_t overridden = overrideWord.load(std::memory_order_acquire);
  if (overridden & kOverrideSet) return static_cast<uint32_t>(overridden);
  return static_cast<uint32_t>(GetVersion());
}

namespace testing {

void setWindowsVersion(const char* text) {
  uint32_t version = 0;
  if (text == nullptr) {
    overrideWord.store(0, std::memory_order_release);
  } else if (parseWindowsVersion(text, &version)) {
    overrideWord.store(kOverrideSet | version, std::memory_order_release);
  } else {
    reportProblem(std::string("version: the version override \"") + text +
                  "\" is not a known Windows version; the system's version stays in force");
    overrideWord.store(0, std::memory_order_release);
  }
}

}  // namespace testing
}  // namespace kiv::platform
