// The configuration store as one thread sees it: its own SQLite connection to config.db,
// prepared statements and a memory of values that is either checked against other
// writers before each read, or trusted for the length of a snapshot.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/tqUtilities/config_cache.h"
#include "framework/tqUtilities/config_section.h"
#include "framework/tqUtilities/config_sqlite.h"

namespace kiv::config {

// Answers: 0 success, otherwise the configuration object's codes (not found, unavailable).
class ConfigStore {
 public:
  // The calling thread's store, opened on first use. Null when config.db cannot be used;
  // the reason is traced once per process (until the store works again).
  static ConfigStore* forThisThread();
  // Opens the store at `path`; null with *error set when it is unusable.
  static std::unique_ptr<ConfigStore> open(const std::string& path, std::string* error);
  // Every thread's store is closed and opened afresh, at the KIV_HOME then set, on that
  // thread's next use: for a program that moves KIV_HOME while it runs, as a test program
  // does to give each test a store of its own.
  static void reopenOnNextUse();
  ~ConfigStore();

  // The value; its text is valid until the next call on this store.
  int read(std::wstring_view section, std::wstring_view key, ValueView* value);
  // Every value of `section`, replacing what `values` held; "not found" when it has none.
  int readSection(std::wstring_view section, SectionValues& values);
  int writeText(std::wstring_view section, std::wstring_view key, std::wstring_view text);
  int writeNumber(std::wstring_view section, std::wstring_view key, int32_t number);

  // Names of the sections directly below `section`, in the order in which each first
  // received a value (its own or one below it). *names stays valid until the next call on
  // this store. Inside a snapshot a listing is kept until a write, so that the sizing and
  // the fetching call of one listing read the store once.
  int listSections(std::wstring_view section, const std::vector<std::wstring>** names);
  // Every value of `section`, in key order; text is null for numbers.
  int enumValues(std::wstring_view section,
                 const std::function<void(const std::wstring& key, const std::wstring* text,
                                          int32_t number)>& visit);

  // Nested snapshots count; the outermost holds the read transaction.
  int beginSnapshot();
  int endSnapshot();

 private:
  // The type column of a stored value.
  static constexpr int kText = 0;
  static constexpr int kNumber = 1;

  ConfigStore() = default;
  bool prepareStatements();
  int write(std::wstring_view section, std::wstring_view key, bool isNumber, int32_t number,
            std::string_view text);
  ConfigCache::Section* findSection(std::wstring_view section);
  bool refreshIfChanged();
  int loadSection(const std::string& foldedSection);
  int loadBelow(const std::string& foldedPrefix);
  int loadRows(Statement::Use& use);
  int failure(int rc);

  std::string path_;
  Connection db_;
  long owner_ = 0;
  uint64_t openedIn_ = 0;  // the reopenOnNextUse generation it was opened in
  Statement dataVersion_, selectSection_, selectRange_, selectAll_, upsert_, listRange_,
      listAll_, enumSection_;
  ConfigCache cache_;
  int64_t cachedVersion_ = -1;
  int snapshotDepth_ = 0;
  std::string foldedSection_, foldedKey_;  // scratch, to avoid allocating per read
  std::vector<std::wstring> listing_;
  std::wstring listedSection_;
  bool listingKept_ = false;
  // The units code reads many keys of one section in a row: the last section looked up
  // is remembered with its folded name, while the cache generation stays the same.
  std::wstring lastSection_;
  ConfigCache::Section* lastFound_ = nullptr;
  uint64_t lastGeneration_ = UINT64_MAX;
};

// The calling thread's place for its store; a store left there is closed when the thread
// ends. Each system keeps it where that end is seen safely.
std::unique_ptr<ConfigStore>& threadStoreSlot();

}  // namespace kiv::config
