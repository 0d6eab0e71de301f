// The Windows version the module behaves as, taken from KIV_WINDOWS_VERSION or a test
// override, packed like the GetVersion word.
#include "platform/version.h"

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/diagnostics.h"

namespace kiv::platform {
namespace {

constexpr const char* kDefaultVersion = "10.0";

// The override: bit 32 says whether one is set, the low word is the version.
std::atomic<uint64_t> overrideWord{0};
constexpr uint64_t kOverrideSet = uint64_t(1) << 32;

uint32_t versionOf(const char* text, const char* origin) {
  uint32_t version = 0;
  if (parseWindowsVersion(text, &version)) return version;
  reportProblem(std::string("version: ") + origin + " \"" + text +
                "\" is not a known Windows version; behaving as " + kDefaultVersion);
  parseWindowsVersion(kDefaultVersion, &version);
  return version;
}

}  // namespace

uint32_t getVersion() {
  const uint64_t overridden = overrideWord.load(std::memory_order_acquire);
  if (overridden & kOverrideSet) return static_cast<uint32_t>(overridden);
  const char* text = std::getenv("KIV_WINDOWS_VERSION");
  if (text == nullptr || *text == '\0') text = kDefaultVersion;
  return versionOf(text, "KIV_WINDOWS_VERSION");
}

namespace testing {

void setWindowsVersion(const char* text) {
  if (text == nullptr) {
    overrideWord.store(0, std::memory_order_release);
    return;
  }
  overrideWord.store(kOverrideSet | versionOf(text, "the version override"),
                     std::memory_order_release);
}

}  // namespace testing
}  // namespace kiv::platform
