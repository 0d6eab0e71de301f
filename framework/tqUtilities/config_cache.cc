// The per-connection memory of configuration values.
#include "framework/tqUtilities/config_cache.h"

namespace kiv::config {
namespace {

// Units carry about sixteen values; room for them up front saves regrowing.
constexpr std::size_t kTypicalValues = 16;

}  // namespace

const ConfigCache::Value* ConfigCache::Section::find(uint32_t key) const {
  for (const auto& [number, value] : values_) {
    if (number == key) return &value;
  }
  return nullptr;
}

void ConfigCache::Section::put(uint32_t key, const Value& value) {
  for (auto& [number, stored] : values_) {
    if (number == key) {
      stored = value;
      return;
    }
  }
  if (values_.empty()) values_.reserve(kTypicalValues);
  values_.emplace_back(key, value);
}

ConfigCache::Section* ConfigCache::find(std::string_view foldedSection) {
  auto found = sections_.find(foldedSection);
  return found == sections_.end() ? nullptr : &found->second;
}

bool ConfigCache::knownEmpty(std::string_view foldedSection) const {
  if (loadedPrefixes_.empty()) return false;
  if (loadedPrefixes_.contains(std::string_view())) return true;
  for (std::size_t slash = foldedSection.find('/'); slash != std::string_view::npos;
       slash = foldedSection.find('/', slash + 1)) {
    if (loadedPrefixes_.contains(foldedSection.substr(0, slash + 1))) return true;
  }
  return false;
}

ConfigCache::Section& ConfigCache::add(std::string_view foldedSection) {
  auto found = sections_.find(foldedSection);
  if (found != sections_.end()) return found->second;
  return sections_.emplace(std::string(foldedSection), Section()).first->second;
}

void ConfigCache::markPrefixLoaded(std::string_view foldedPrefix) { loadedPrefixes_.emplace(foldedPrefix); }

ConfigCache::Value ConfigCache::makeText(std::string_view text) {
  Value value;
  value.textOffset = static_cast<uint32_t>(texts_.size());
  value.textLength = static_cast<uint32_t>(text.size());
  texts_.append(text);
  return value;
}

uint32_t ConfigCache::internKey(std::string_view foldedKey) {
  auto found = keys_.find(foldedKey);
  if (found != keys_.end()) return found->second;
  const auto number = static_cast<uint32_t>(keys_.size());
  keys_.emplace(std::string(foldedKey), number);
  keyNames_.emplace_back(foldedKey);
  return number;
}

uint32_t ConfigCache::keyNumber(std::string_view foldedKey) const {
  auto found = keys_.find(foldedKey);
  return found == keys_.end() ? kNoKey : found->second;
}

void ConfigCache::clear() {
  sections_.clear();
  loadedPrefixes_.clear();
  texts_.clear();
  texts_.shrink_to_fit();
  ++generation_;
  // Key numbers stay valid across clears; the names are few.
}

}  // namespace kiv::config
