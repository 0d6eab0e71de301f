// The values of one configuration section, looked up by name without regard to case.
#include "framework/tqUtilities/config_section.h"

#include "framework/tqUtilities/config_text.h"

namespace kiv::config {

void SectionValues::clear() {
  pool_.clear();
  entries_.clear();
}

void SectionValues::add(std::string_view foldedKey, const ValueView& value) {
  Entry entry{static_cast<uint32_t>(pool_.size()), static_cast<uint32_t>(foldedKey.size()), value.isNumber,
              value.number, 0, 0};
  pool_.append(foldedKey);
  if (!value.isNumber) {
    entry.textOffset = static_cast<uint32_t>(pool_.size());
    entry.textLength = static_cast<uint32_t>(value.text.size());
    pool_.append(value.text);
  }
  entries_.push_back(entry);
}

bool SectionValues::find(std::wstring_view key, ValueView* value) const {
  // Folded per thread into one buffer: lookups are many and names are short. Not on
  // Windows, where a thread_local with a destructor is unsafe in a mingw-w64 DLL (see
  // platform/win/fiber_slot.h); short names fit the string itself there.
#ifdef _WIN32
  std::string folded;
#else
  thread_local std::string folded;
#endif
  foldUtf8Into(key, folded);
  const std::string_view pool(pool_);
  for (const Entry& entry : entries_) {
    if (entry.keyLength != folded.size() || pool.substr(entry.keyOffset, entry.keyLength) != folded) continue;
    *value = {entry.isNumber, entry.number, pool.substr(entry.textOffset, entry.textLength)};
    return true;
  }
  return false;
}

}  // namespace kiv::config
