// Version texts as KIV_WINDOWS_VERSION and the test override take them, packed like the
// GetVersion word; the same on every system.
#include "platform/version.h"

#include <charconv>
#include <string_view>

namespace kiv::platform {
namespace {

constexpr uint32_t kNineXBit = 0x80000000u;

uint32_t pack(uint32_t major, uint32_t minor, bool nineX) {
  return (major & 0xFF) | ((minor & 0xFF) << 8) | (nineX ? kNineXBit : 0);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = (a[i] >= 'a' && a[i] <= 'z') ? char(a[i] - 32) : a[i];
    const char y = (b[i] >= 'a' && b[i] <= 'z') ? char(b[i] - 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

// A whole-text decimal number from 0 to 255.
bool parseByte(std::string_view text, uint32_t* value) {
  if (text.empty()) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && *value <= 255;
}

}  // namespace

bool parseWindowsVersion(const char* text, uint32_t* version) {
  if (text == nullptr || version == nullptr) return false;
  const std::string_view view(text);
  if (view == "95") return *version = pack(4, 0, true), true;
  if (view == "98") return *version = pack(4, 10, true), true;
  if (equalsIgnoringCase(view, "ME")) return *version = pack(4, 90, true), true;
  const auto dot = view.find('.');
  uint32_t major = 0;
  uint32_t minor = 0;
  if (dot == std::string_view::npos) {
    // A bare major number ("10") means its .0 release.
    if (!parseByte(view, &major) || major < 3) return false;
  } else if (!parseByte(view.substr(0, dot), &major) || !parseByte(view.substr(dot + 1), &minor) ||
             major < 3) {
    return false;
  }
  // 4.10 and 4.90 are the real numbers of Windows 98 and ME, not NT releases.
  const bool nineX = major == 4 && (minor == 10 || minor == 90);
  *version = pack(major, minor, nineX);
  return true;
}

}  // namespace kiv::platform
