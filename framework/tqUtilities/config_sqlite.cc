// SQLite wrappers of the configuration store.
#include "framework/tqUtilities/config_sqlite.h"

#include <chrono>
#include <thread>

namespace kiv::config {
namespace {

// A connection that finds the shared WAL index being recovered or first set up by another
// one is told the store is read-only; like a lock, that passes once the other is done.
bool isBusy(int rc) {
  const int primary = rc & 0xFF;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED || rc == SQLITE_READONLY_RECOVERY ||
         rc == SQLITE_READONLY_CANTINIT;
}

// SQLite calls the busy handler for most lock waits, but not all (a WAL file being
// recovered, a snapshot that went stale, a WAL index being set up); those are retried here
// until the same deadline.
template <class Attempt, class Reset>
int retryWhileBusy(Attempt attempt, Reset reset) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  auto pause = std::chrono::microseconds(100);
  for (;;) {
    const int rc = attempt();
    if (!isBusy(rc) || std::chrono::steady_clock::now() >= deadline) return rc;
    reset();
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
}

}  // namespace

int execute(sqlite3* db, const char* sql) {
  return retryWhileBusy([&] { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }, [] {});
}

std::string lastError(sqlite3* db) {
  const char* message = db != nullptr ? sqlite3_errmsg(db) : nullptr;
  return message != nullptr ? message : "out of memory";
}

Statement::Statement(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) == SQLITE_OK) {
    statement_.reset(statement);
  } else {
    sqlite3_finalize(statement);
  }
}

void Statement::Use::bind(int index, std::string_view text) {
  sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Statement::Use::bind(int index, int64_t number) { sqlite3_bind_int64(statement_, index, number); }

void Statement::Use::bindNull(int index) { sqlite3_bind_null(statement_, index); }

int Statement::Use::step() {
  if (started_) return sqlite3_step(statement_);
  started_ = true;
  return retryWhileBusy([&] { return sqlite3_step(statement_); }, [&] { sqlite3_reset(statement_); });
}

std::string_view Statement::Use::text(int column) const {
  const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
  if (data == nullptr) return {};
  return {data, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))};
}

int64_t Statement::Use::number(int column) const { return sqlite3_column_int64(statement_, column); }

bool Statement::Use::isNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

}  // namespace kiv::config
