// The calling thread's view of config.db: reads served from memory, writes straight to
// SQLite, snapshots held as one read transaction.
#include "framework/tqUtilities/config_store.h"

#include <unordered_set>

#include "ITQConfig.h"
#include "framework/tqUtilities/config_report.h"
#include "framework/tqUtilities/config_text.h"

namespace kiv::config {
namespace {

// Memory kept outside snapshots is bounded; past this many sections it starts afresh.
constexpr std::size_t kMaxCachedSections = 4096;
// An enumeration may have read every unit into memory; that much is not kept afterwards.
constexpr std::size_t kKeptAfterSnapshot = 256;
// Texts written through accumulate in memory; past this much it starts afresh.
constexpr std::size_t kMaxCachedTextBytes = 8u << 20;

// Every folded name that starts with `prefix` (which ends with "/") sorts below the
// prefix with its "/" raised to "0".
std::string upperBound(const std::string& prefix) {
  std::string upper = prefix;
  upper.back() = '0';
  return upper;
}

std::string parentPrefix(const std::string& foldedSection) {
  const auto slash = foldedSection.rfind('/');
  return slash == std::string::npos ? std::string() : foldedSection.substr(0, slash + 1);
}

// The name component at `index` ("/"-separated) of an original section name.
std::string_view component(std::string_view name, std::size_t index) {
  for (; index > 0; --index) {
    const auto slash = name.find('/');
    if (slash == std::string_view::npos) return {};
    name.remove_prefix(slash + 1);
  }
  return name.substr(0, name.find('/'));
}

}  // namespace

int ConfigStore::failure(int rc) {
  reportProblemOnce("configuration store " + path_ + ": " + sqlite3_errstr(rc) + " (" + lastError(db_.get()) + ")");
  return kTQConfigUnavailable;
}

// Another connection's commit changes the data version; memory is then dropped.
bool ConfigStore::refreshIfChanged() {
  Statement::Use use(dataVersion_);
  if (use.step() != SQLITE_ROW) return false;
  const int64_t version = use.number(0);
  if (version != cachedVersion_) {
    cache_.clear();
    cachedVersion_ = version;
  }
  return true;
}

int ConfigStore::loadRows(Statement::Use& use) {
  std::string currentName;  // copied: column text is gone after the next step
  ConfigCache::Section* current = nullptr;
  // Sections of one kind (units) hold the same keys in the same order: the key met at
  // the same place in the previous section is tried before the key table.
  std::vector<std::pair<std::string, uint32_t>> keysByPlace;
  std::size_t place = 0;
  int rc;
  while ((rc = use.step()) == SQLITE_ROW) {
    const std::string_view section = use.text(0);
    if (current == nullptr || section != currentName) {
      current = &cache_.add(section);
      currentName = section;
      place = 0;
    }
    const std::string_view key = use.text(1);
    uint32_t keyNumber;
    if (place < keysByPlace.size() && keysByPlace[place].first == key) {
      keyNumber = keysByPlace[place].second;
    } else {
      keyNumber = cache_.internKey(key);
      if (place < keysByPlace.size()) {
        keysByPlace[place] = {std::string(key), keyNumber};
      } else {
        keysByPlace.emplace_back(key, keyNumber);
      }
    }
    ++place;
    const ConfigCache::Value value = use.number(2) == kNumber
                                         ? ConfigCache::makeNumber(static_cast<int32_t>(use.number(4)))
                                         : cache_.makeText(use.text(3));
    current->put(keyNumber, value);
  }
  return rc == SQLITE_DONE ? 0 : failure(rc);
}

int ConfigStore::loadSection(const std::string& foldedSection) {
  if (cache_.sectionCount() >= kMaxCachedSections) cache_.clear();
  Statement::Use use(selectSection_);
  use.bind(1, foldedSection);
  const int rc = loadRows(use);
  if (rc == 0) cache_.add(foldedSection);  // remembered even when it holds nothing
  return rc;
}

int ConfigStore::loadBelow(const std::string& foldedPrefix) {
  int rc;
  if (foldedPrefix.empty()) {
    Statement::Use use(selectAll_);
    rc = loadRows(use);
  } else {
    Statement::Use use(selectRange_);
    use.bind(1, foldedPrefix);
    use.bind(2, upperBound(foldedPrefix));
    rc = loadRows(use);
  }
  if (rc == 0) cache_.markPrefixLoaded(foldedPrefix);
  return rc;
}

ConfigCache::Section* ConfigStore::findSection(std::wstring_view section) {
  if (lastGeneration_ == cache_.generation() && section == lastSection_) return lastFound_;
  foldUtf8Into(section, foldedSection_);
  ConfigCache::Section* found = cache_.find(foldedSection_);
  if (found == nullptr) {
    if (cache_.knownEmpty(foldedSection_)) return nullptr;
    // Inside a snapshot the siblings are read too: an enumeration visits them all next.
    const int rc = snapshotDepth_ > 0 ? loadBelow(parentPrefix(foldedSection_)) : loadSection(foldedSection_);
    if (rc != 0) return nullptr;
    found = cache_.find(foldedSection_);
    if (found == nullptr) return nullptr;
  }
  lastSection_.assign(section);
  lastFound_ = found;
  lastGeneration_ = cache_.generation();
  return found;
}

int ConfigStore::read(std::wstring_view section, std::wstring_view key, ValueView* value) {
  if (snapshotDepth_ == 0 && !refreshIfChanged()) return failure(sqlite3_errcode(db_.get()));
  const ConfigCache::Section* found = findSection(section);
  if (found == nullptr) return kTQConfigNotFound;
  foldUtf8Into(key, foldedKey_);
  const uint32_t keyNumber = cache_.keyNumber(foldedKey_);
  const ConfigCache::Value* stored = keyNumber == ConfigCache::kNoKey ? nullptr : found->find(keyNumber);
  if (stored == nullptr) return kTQConfigNotFound;
  *value = cache_.view(*stored);
  return 0;
}

// One check for other writers and one lookup serve every value of the section.
int ConfigStore::readSection(std::wstring_view section, SectionValues& values) {
  values.clear();
  if (snapshotDepth_ == 0 && !refreshIfChanged()) return failure(sqlite3_errcode(db_.get()));
  const ConfigCache::Section* found = findSection(section);
  if (found == nullptr) return kTQConfigNotFound;
  for (const auto& [key, value] : found->values()) values.add(cache_.keyName(key), cache_.view(value));
  return values.empty() ? kTQConfigNotFound : 0;
}

int ConfigStore::writeText(std::wstring_view section, std::wstring_view key, std::wstring_view text) {
  return write(section, key, false, 0, toUtf8(text));
}

int ConfigStore::writeNumber(std::wstring_view section, std::wstring_view key, int32_t number) {
  return write(section, key, true, number, {});
}

// Writes are one statement each, so they commit on their own. A snapshot's read
// transaction cannot be turned into a write once others have written, so it is ended
// around the write and started again: the snapshot then shows the store as of just after
// this write, and memory is dropped if anyone else wrote in between.
int ConfigStore::write(std::wstring_view section, std::wstring_view key, bool isNumber, int32_t number,
                       std::string_view text) {
  foldUtf8Into(section, foldedSection_);
  foldUtf8Into(key, foldedKey_);
  listingKept_ = false;
  if (snapshotDepth_ > 0) execute(db_.get(), "COMMIT");
  int rc;
  {
    Statement::Use use(upsert_);
    use.bind(1, foldedSection_);
    use.bind(2, foldedKey_);
    use.bind(3, toUtf8(section));
    use.bind(4, toUtf8(key));
    use.bind(5, int64_t{isNumber ? kNumber : kText});
    if (isNumber) {
      use.bindNull(6);
      use.bind(7, int64_t{number});
    } else {
      use.bind(6, text);
      use.bindNull(7);
    }
    rc = use.step();
  }
  if (snapshotDepth_ > 0 && (execute(db_.get(), "BEGIN") != SQLITE_OK || !refreshIfChanged())) {
    cache_.clear();
    cachedVersion_ = -1;
  }
  if (rc != SQLITE_DONE) return failure(rc);
  if (cache_.textBytes() > kMaxCachedTextBytes) cache_.clear();
  ConfigCache::Section* cached = cache_.find(foldedSection_);
  if (cached == nullptr && cache_.knownEmpty(foldedSection_)) cached = &cache_.add(foldedSection_);
  if (cached != nullptr) {
    cached->put(cache_.internKey(foldedKey_), isNumber ? ConfigCache::makeNumber(number) : cache_.makeText(text));
  }
  return 0;
}

int ConfigStore::listSections(std::wstring_view section, const std::vector<std::wstring>** names) {
  *names = &listing_;
  if (listingKept_ && snapshotDepth_ > 0 && section == listedSection_) return 0;
  listingKept_ = false;
  listing_.clear();
  listedSection_.assign(section);
  while (!section.empty() && section.back() == L'/') section.remove_suffix(1);
  std::string prefix;
  std::size_t depth = 0;
  if (!section.empty()) {
    foldUtf8Into(section, prefix);
    prefix += '/';
    for (char c : prefix) depth += c == '/';
  }
  Statement::Use use(prefix.empty() ? listAll_ : listRange_);
  if (!prefix.empty()) {
    use.bind(1, prefix);
    use.bind(2, upperBound(prefix));
  }
  // A child may also appear through sections deeper below it; only then are names
  // checked for repeats, which a plain list of units never needs.
  std::vector<std::string> direct;  // folded, while no deeper section was met
  std::unordered_set<std::string> seen;
  bool deeper = false;
  int rc;
  while ((rc = use.step()) == SQLITE_ROW) {
    std::string_view rest = use.text(0).substr(prefix.size());
    const std::size_t slash = rest.find('/');
    const std::string_view child = rest.substr(0, slash);
    if (child.empty()) continue;
    if (slash != std::string_view::npos && !deeper) {
      deeper = true;
      for (std::string& name : direct) seen.emplace(std::move(name));
    }
    if (deeper) {
      if (!seen.emplace(child).second) continue;
    } else {
      direct.emplace_back(child);
    }
    const std::string_view original = component(use.text(1), depth);
    listing_.push_back(toWide(original.empty() ? child : original));
  }
  if (rc != SQLITE_DONE) {
    listing_.clear();
    return failure(rc);
  }
  listingKept_ = snapshotDepth_ > 0;
  return 0;
}

int ConfigStore::enumValues(std::wstring_view section,
                            const std::function<void(const std::wstring&, const std::wstring*, int32_t)>& visit) {
  struct Row {
    std::wstring key, text;
    bool isNumber;
    int32_t number;
  };
  std::vector<Row> rows;
  foldUtf8Into(section, foldedSection_);
  int rc;
  {
    // Collected first, so that the visitor may use the store itself.
    Statement::Use use(enumSection_);
    use.bind(1, foldedSection_);
    while ((rc = use.step()) == SQLITE_ROW) {
      const bool isNumber = use.number(1) == kNumber;
      rows.push_back({toWide(use.text(0)), isNumber ? std::wstring() : toWide(use.text(2)), isNumber,
                      static_cast<int32_t>(use.number(3))});
    }
  }
  if (rc != SQLITE_DONE) return failure(rc);
  for (const Row& row : rows) visit(row.key, row.isNumber ? nullptr : &row.text, row.number);
  return 0;
}

int ConfigStore::beginSnapshot() {
  if (snapshotDepth_++ > 0) return 0;
  int rc = execute(db_.get(), "BEGIN");
  if (rc == SQLITE_OK && !refreshIfChanged()) {
    rc = sqlite3_errcode(db_.get());
    execute(db_.get(), "ROLLBACK");
  }
  if (rc != SQLITE_OK) {
    snapshotDepth_ = 0;
    return failure(rc);
  }
  return 0;
}

int ConfigStore::endSnapshot() {
  if (snapshotDepth_ == 0) return kTQConfigNotFound;
  if (--snapshotDepth_ > 0) return 0;
  listingKept_ = false;
  const int rc = execute(db_.get(), "COMMIT");
  if (cache_.sectionCount() > kKeptAfterSnapshot) cache_.clear();
  return rc == SQLITE_OK ? 0 : failure(rc);
}

}  // namespace kiv::config
