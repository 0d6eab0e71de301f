// The values of one configuration section copied out of the store's memory, so that a
// reader can look up many of them after a single look at the store.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/tqUtilities/config_cache.h"

namespace kiv::config {

class SectionValues {
 public:
  void clear();
  void add(std::string_view foldedKey, const ValueView& value);
  bool empty() const { return entries_.empty(); }
  // The value named `key` in any letter case; false when the section has no such value.
  // The view stays valid until the next add or clear.
  bool find(std::wstring_view key, ValueView* value) const;

 private:
  struct Entry {
    uint32_t keyOffset, keyLength;
    bool isNumber;
    int32_t number;
    uint32_t textOffset, textLength;
  };
  // Keys and texts share one buffer: a unit section holds about sixteen values, and one
  // allocation for all of them is what makes reading a section cheap.
  std::string pool_;
  std::vector<Entry> entries_;
};

}  // namespace kiv::config
