// SQLite storage of the registry: connection, schema, cached statements, error mapping.
#include "platform/linux/registry_db.h"

#include <sqlite3.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/diagnostics.h"
#include "platform/file_util.h"
#include "platform/home.h"
#include "platform/home_path.h"
#include "platform/registry.h"

namespace kiv::platform::detail {
namespace {

// Keys by their case-folded full path, with the original spelling of their last level;
// values by key and case-folded name, with the original spelling of the name.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS reg_keys(path TEXT PRIMARY KEY, name TEXT NOT NULL)"
    " WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS reg_values(key TEXT NOT NULL, folded TEXT NOT NULL,"
    " name TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
    " PRIMARY KEY(key, folded)) WITHOUT ROWID;";

constexpr int kBusyTimeoutMs = 10000;

std::mutex& registryLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

// Set once the shared connection has been closed for good at exit; later calls (from other
// objects' destructors) get an error instead of a destroyed connection.
bool closedForExit = false;

std::string describe(int code) {
  switch (code & 0xFF) {
    case SQLITE_NOTADB:
      return "is not a database";
    case SQLITE_CORRUPT:
      return "is damaged";
    case SQLITE_CANTOPEN:
      return "cannot be opened";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "stayed locked by another process";
    default:
      return "cannot be used";
  }
}

}  // namespace

Statement::~Statement() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

Statement& Statement::bind(int index, std::string_view text) {
  sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::bind(int index, int64_t number) {
  sqlite3_bind_int64(stmt_, index, number);
  return *this;
}

Statement& Statement::bindBlob(int index, const void* data, size_t size) {
  // A zero-length blob still has to be a blob, not NULL, for the NOT NULL column.
  static const char kEmpty = 0;
  sqlite3_bind_blob64(stmt_, index, size != 0 ? data : &kEmpty, size, SQLITE_TRANSIENT);
  return *this;
}

bool Statement::step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw StepFailed{rc};
}

std::string Statement::text(int column) const {
  const auto* data = sqlite3_column_text(stmt_, column);
  const int size = sqlite3_column_bytes(stmt_, column);
  return data != nullptr ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
}

int64_t Statement::number(int column) const { return sqlite3_column_int64(stmt_, column); }

std::vector<uint8_t> Statement::blob(int column) const {
  const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, column));
  const int size = sqlite3_column_bytes(stmt_, column);
  return data != nullptr ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>();
}

RegistryDb& RegistryDb::instance() {
  static RegistryDb db;
  return db;
}

RegistryDb::~RegistryDb() {
  std::lock_guard held(registryLock());
  close();
  closedForExit = true;
}

void RegistryDb::close() {
  for (auto& entry : statements_) sqlite3_finalize(entry.second);
  statements_.clear();
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

long RegistryDb::fail(int code, const std::string& what) {
  const char* detail = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
  pendingReport_ = "registry: " + path_ + " " + what + ": " + detail;
  const int primary = code & 0xFF;
  // Start over on the next call: the file may have been repaired or replaced meanwhile.
  close();
  return (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT) ? kErrorRegistryCorrupt
                                                                  : kErrorRegistryIo;
}

long RegistryDb::ensureOpen() {
  // The usual case costs no file-system calls: the root has not moved since the last call.
  if (db_ != nullptr && configuredHome() + "/registry.db" == path_) return kErrorSuccess;
  std::string error;
  const std::string home = kivHome(&error);
  if (home.empty()) {
    pendingReport_ = "registry: " + error;
    return kErrorRegistryIo;
  }
  const std::string path = home + "/registry.db";
  close();
  path_ = path;
  ensurePrivateFile(path);  // SQLite would make it readable by everyone the umask allows
  const int rc = sqlite3_open_v2(path.c_str(), &db_,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
  if (rc != SQLITE_OK) return fail(rc, describe(rc));
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  // Processes that open a new file at the same time race to switch it to WAL and to make
  // the tables, and the loser is told SQLITE_BUSY at once: the busy handler does not cover
  // that step. It is tried again for as long as an ordinary lock wait would last.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    const int rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;",
                                nullptr, nullptr, nullptr);
    const int schema = rc == SQLITE_OK ? sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) : rc;
    if (schema == SQLITE_OK) return kErrorSuccess;
    if ((schema & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) {
      return fail(schema, describe(schema));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

Statement RegistryDb::prepare(const char* sql) {
  for (auto& entry : statements_) {
    if (entry.first == sql) return Statement(*this, entry.second);
  }
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  if (rc != SQLITE_OK) throw StepFailed{rc};
  statements_.emplace_back(sql, stmt);
  return Statement(*this, stmt);
}

int64_t RegistryDb::changes() const { return sqlite3_changes64(db_); }

long RegistryDb::run(const std::function<long(RegistryDb&)>& body) {
  long result = kErrorSuccess;
  std::string report;
  {
    std::lock_guard held(registryLock());
    if (closedForExit) return kErrorRegistryIo;
    RegistryDb& db = instance();
    result = db.ensureOpen();
    if (result == kErrorSuccess) {
      try {
        result = body(db);
      } catch (const StepFailed& failure) {
        result = db.fail(failure.code, describe(failure.code));
      }
    }
    report.swap(db.pendingReport_);
  }
  // Reported outside the lock: the problem sink may well use the registry itself.
  if (!report.empty()) reportProblem(report);
  return result;
}

long RegistryDb::write(const std::function<long(RegistryDb&)>& body) {
  return run([&body](RegistryDb& db) -> long {
    // Taking the write lock up front avoids a deadlock-prone upgrade from a read.
    db.prepare("BEGIN IMMEDIATE").step();
    long result = kErrorSuccess;
    try {
      result = body(db);
    } catch (...) {
      sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    if (result == kErrorSuccess) {
      db.prepare("COMMIT").step();
    } else {
      db.prepare("ROLLBACK").step();
    }
    return result;
  });
}

}  // namespace kiv::platform::detail
