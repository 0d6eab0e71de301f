// The registry's SQLite file: one shared connection per process, opened on first use
// (and again after a failure), with cached statements and Win32 error codes for failures.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace kiv::platform::detail {

class RegistryDb;

// A cached prepared statement, reset when it goes out of scope.
class Statement {
 public:
  Statement(RegistryDb& db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, std::string_view text);
  Statement& bind(int index, int64_t number);
  Statement& bindBlob(int index, const void* data, size_t size);
  // SQLITE_ROW is true, SQLITE_DONE false; any other outcome throws StepFailed.
  bool step();
  std::string text(int column) const;
  int64_t number(int column) const;
  std::vector<uint8_t> blob(int column) const;

 private:
  RegistryDb& db_;
  sqlite3_stmt* stmt_;
};

// Thrown out of a database step; caught by RegistryDb::run and turned into an error code.
struct StepFailed {
  int code;
};

class RegistryDb {
 public:
  // Runs `body` under the process-wide registry lock with the database open. Database
  // failures become kErrorRegistryCorrupt or kErrorRegistryIo and are reported once.
  static long run(const std::function<long(RegistryDb&)>& body);
  // Like run, inside a write transaction committed when `body` returns kErrorSuccess.
  static long write(const std::function<long(RegistryDb&)>& body);

  Statement prepare(const char* sql);
  int64_t changes() const;
  sqlite3* handle() const { return db_; }

 private:
  RegistryDb() = default;
  ~RegistryDb();
  static RegistryDb& instance();
  long ensureOpen();
  long fail(int code, const std::string& what);
  void close();

  sqlite3* db_ = nullptr;
  std::string path_;
  std::string pendingReport_;  // a failure to report once the lock is released
  std::vector<std::pair<const char*, sqlite3_stmt*>> statements_;
};

}  // namespace kiv::platform::detail
