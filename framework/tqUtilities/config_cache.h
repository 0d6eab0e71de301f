// The per-connection memory of configuration values: whole sections, keyed by their
// folded names, and the section prefixes that were read in bulk so that a section absent
// from memory below them is known to be empty.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kiv::config {

// A value as the caller sees it; the text stays valid until the store is used again.
struct ValueView {
  bool isNumber = false;
  int32_t number = 0;
  std::string_view text;  // UTF-8, for string values
};

class ConfigCache {
 public:
  // A value in memory; its text lives in the cache's text pool, so that reading
  // thousands of sections does not allocate once per value.
  struct Value {
    bool isNumber = false;
    int32_t number = 0;
    uint32_t textOffset = 0;
    uint32_t textLength = 0;
  };

  // Every value of one section; a section holds few values, so a short vector searched
  // by interned key number beats a map.
  class Section {
   public:
    const Value* find(uint32_t key) const;
    void put(uint32_t key, const Value& value);
    // (key number, value) pairs in the order the keys were first put.
    const std::vector<std::pair<uint32_t, Value>>& values() const { return values_; }

   private:
    std::vector<std::pair<uint32_t, Value>> values_;
  };

  // The section in memory, or null when it was never read (see knownEmpty). Pointers stay
  // valid until clear(), which changes generation().
  Section* find(std::string_view foldedSection);
  // Whether a section that is not in memory lies below a prefix read in bulk, and so has
  // no values at all.
  bool knownEmpty(std::string_view foldedSection) const;
  Section& add(std::string_view foldedSection);
  void markPrefixLoaded(std::string_view foldedPrefix);

  Value makeText(std::string_view text);
  static Value makeNumber(int32_t number) { return Value{true, number, 0, 0}; }
  ValueView view(const Value& value) const {
    return {value.isNumber, value.number, std::string_view(texts_).substr(value.textOffset, value.textLength)};
  }

  // The number that stands for a folded key name; keys repeat across thousands of
  // sections, so each name is stored once.
  uint32_t internKey(std::string_view foldedKey);
  // The number of a key seen before, or kNoKey.
  uint32_t keyNumber(std::string_view foldedKey) const;
  // The folded name of a key number handed out by internKey.
  std::string_view keyName(uint32_t number) const { return keyNames_[number]; }
  static constexpr uint32_t kNoKey = UINT32_MAX;

  std::size_t sectionCount() const { return sections_.size(); }
  std::size_t textBytes() const { return texts_.size(); }
  uint64_t generation() const { return generation_; }
  void clear();

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  using Equal = std::equal_to<>;

  std::unordered_map<std::string, Section, Hash, Equal> sections_;
  std::unordered_set<std::string, Hash, Equal> loadedPrefixes_;
  std::unordered_map<std::string, uint32_t, Hash, Equal> keys_;
  std::vector<std::string> keyNames_;
  std::string texts_;
  uint64_t generation_ = 0;
};

}  // namespace kiv::config
