// Opening config.db for one thread: WAL mode, busy timeout, the tables and the
// statements that every later call reuses.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "framework/tqUtilities/config_report.h"
#include "framework/tqUtilities/config_store.h"
#include "framework/tqUtilities/process_id.h"
#include "platform/file_util.h"
#include "platform/home.h"
#include "platform/thread_storage.h"

namespace kiv::config {
namespace {

constexpr const char* kSchema = R"sql(
BEGIN IMMEDIATE;
CREATE TABLE IF NOT EXISTS config_values(
  section_id TEXT NOT NULL,  -- folded section name, compared byte for byte
  key_id TEXT NOT NULL,      -- folded key name
  section TEXT NOT NULL,     -- names as first written
  key TEXT NOT NULL,
  type INTEGER NOT NULL,     -- 0 text, 1 number
  text TEXT,
  number INTEGER,
  PRIMARY KEY(section_id, key_id)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS config_sections(
  seq INTEGER PRIMARY KEY,   -- order in which sections first received a value
  section_id TEXT NOT NULL UNIQUE,
  name TEXT NOT NULL);
CREATE TRIGGER IF NOT EXISTS config_values_section AFTER INSERT ON config_values BEGIN
  INSERT OR IGNORE INTO config_sections(section_id, name) VALUES(NEW.section_id, NEW.section);
END;
COMMIT;
)sql";

constexpr const char* kRowColumns = "SELECT section_id, key_id, type, text, number FROM config_values";

bool tableExists(sqlite3* db, int* rc) {
  Statement check(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'config_values'");
  if (!check.valid()) {
    *rc = sqlite3_errcode(db);
    return false;
  }
  Statement::Use use(check);
  *rc = use.step();
  return *rc == SQLITE_ROW;
}

// On failure *error says why, taken before the rollback that would clear it.
int createSchema(sqlite3* db, std::string* error) {
  int rc = SQLITE_OK;
  if (tableExists(db, &rc)) return SQLITE_OK;
  if (rc != SQLITE_DONE) {
    *error = lastError(db);
    return rc;
  }
  rc = execute(db, kSchema);
  if (rc != SQLITE_OK) {
    *error = lastError(db);
    execute(db, "ROLLBACK");
  }
  return rc;
}

// WAL lets readers and one writer proceed side by side across processes.
int enableWal(sqlite3* db) {
  Statement pragma(db, "PRAGMA journal_mode = WAL");
  if (!pragma.valid()) return sqlite3_errcode(db);
  Statement::Use use(pragma);
  const int rc = use.step();
  if (rc != SQLITE_ROW) return rc;
  return use.text(0) == "wal" ? SQLITE_OK : SQLITE_READONLY;
}

// SQLite opens a file that refuses writing at that moment read-only, without saying so: on
// Windows a file that another connection is just creating can refuse a writer for a moment.
// The store must be writable, so such a connection is closed and the file opened again, a
// few times before it is taken for a file that cannot be written.
int openWritable(const std::string& path, sqlite3** db) {
  constexpr int kAttempts = 6;
  auto pause = std::chrono::milliseconds(1);
  for (int attempt = 1;; ++attempt) {
    const int rc = sqlite3_open_v2(path.c_str(), db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK || sqlite3_db_readonly(*db, "main") != 1 || attempt == kAttempts) return rc;
    sqlite3_close(*db);
    *db = nullptr;
    std::this_thread::sleep_for(pause);
    pause *= 2;
  }
}

// Raised by reopenOnNextUse; a thread whose store is older opens a new one.
std::atomic<uint64_t> storeGeneration{0};

}  // namespace

void ConfigStore::reopenOnNextUse() { storeGeneration.fetch_add(1, std::memory_order_relaxed); }

std::unique_ptr<ConfigStore> ConfigStore::open(const std::string& path, std::string* error) {
  std::unique_ptr<ConfigStore> store(new ConfigStore);
  store->path_ = path;
  store->owner_ = processId();
  store->openedIn_ = storeGeneration.load(std::memory_order_relaxed);
  sqlite3* raw = nullptr;
  int rc = openWritable(path, &raw);
  store->db_.reset(raw);
  if (rc == SQLITE_OK) {
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    rc = enableWal(raw);
  }
  // With WAL, NORMAL never corrupts the store and keeps every commit across a crash of
  // the process; only a crash of the whole machine may undo the last few commits. FULL
  // would add a disk flush to every single-value write.
  if (rc == SQLITE_OK) rc = execute(raw, "PRAGMA synchronous = NORMAL");
  // Pages read through a memory map instead of one read call and one copy each: listing
  // thousands of units reads the whole units part of the file. The map is address space
  // shared with the system's file cache, not memory of this process.
  if (rc == SQLITE_OK) rc = execute(raw, "PRAGMA mmap_size = 268435456");
  std::string schemaError;
  if (rc == SQLITE_OK) rc = createSchema(raw, &schemaError);
  if (rc == SQLITE_OK && !store->prepareStatements()) rc = sqlite3_errcode(raw);
  if (rc != SQLITE_OK) {
    if (!schemaError.empty()) {
      *error = schemaError;
    } else {
      *error = rc == SQLITE_READONLY && sqlite3_errcode(raw) == SQLITE_OK ? "the file cannot be written"
                                                                          : lastError(raw);
    }
    return nullptr;
  }
  return store;
}

bool ConfigStore::prepareStatements() {
  sqlite3* db = db_.get();
  dataVersion_ = Statement(db, "PRAGMA data_version");
  selectSection_ = Statement(db, (std::string(kRowColumns) + " WHERE section_id = ?1").c_str());
  selectRange_ = Statement(db, (std::string(kRowColumns) + " WHERE section_id >= ?1 AND section_id < ?2").c_str());
  selectAll_ = Statement(db, kRowColumns);
  upsert_ = Statement(db,
                      "INSERT INTO config_values(section_id, key_id, section, key, type, text, number) "
                      "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7) ON CONFLICT(section_id, key_id) DO UPDATE SET "
                      "type = excluded.type, text = excluded.text, number = excluded.number");
  listRange_ = Statement(db,
                         "SELECT section_id, name FROM config_sections "
                         "WHERE section_id >= ?1 AND section_id < ?2 ORDER BY seq");
  listAll_ = Statement(db, "SELECT section_id, name FROM config_sections ORDER BY seq");
  enumSection_ = Statement(db, "SELECT key, type, text, number FROM config_values WHERE section_id = ?1 ORDER BY key_id");
  for (const Statement* s : {&dataVersion_, &selectSection_, &selectRange_, &selectAll_, &upsert_, &listRange_,
                             &listAll_, &enumSection_}) {
    if (!s->valid()) return false;
  }
  return true;
}

ConfigStore::~ConfigStore() {
  // A snapshot still open when the thread ends is only a read; closing drops it.
}

ConfigStore* ConfigStore::forThisThread() {
  std::unique_ptr<ConfigStore>& store = kiv::platform::perThread<std::unique_ptr<ConfigStore>>();
  // A connection inherited through fork belongs to the parent: using or closing it here
  // could disturb the parent's locks, so the child leaves it alone and opens its own.
  if (store != nullptr && store->owner_ != processId()) (void)store.release();
  if (store != nullptr && store->openedIn_ != storeGeneration.load(std::memory_order_relaxed)) store.reset();
  if (store != nullptr) return store.get();
  std::string error;
  const std::string home = kiv::platform::kivHome(&error);
  if (home.empty()) {
    reportProblemOnce("TQUtilities_GetConfigEx: no configuration store, KIV_HOME is unusable: " + error);
    return nullptr;
  }
  const std::string path = home + "/config.db";
  kiv::platform::ensurePrivateFile(path);  // owner-only, whatever the umask lets SQLite make
  store = open(path, &error);
  if (store == nullptr) {
    reportProblemOnce("TQUtilities_GetConfigEx: the configuration store " + path + " cannot be used: " + error);
    return nullptr;
  }
  clearReportedProblem();
  return store.get();
}

}  // namespace kiv::config
