// Small RAII wrappers over SQLite for the configuration store: a connection, reusable
// prepared statements, and stepping that waits out SQLITE_BUSY within the busy timeout.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kiv::config {

// How long a statement waits for other writers before it gives up.
constexpr int kBusyTimeoutMs = 10000;

struct ConnectionCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;

// Runs SQL without results, retrying while another connection holds a lock.
int execute(sqlite3* db, const char* sql);
// SQLite's message for the connection's last error.
std::string lastError(sqlite3* db);

// A prepared statement kept for the life of its connection. Each use binds, steps and
// ends with Use's destructor, which resets it so that it holds no read lock.
class Statement {
 public:
  Statement() = default;
  Statement(sqlite3* db, const char* sql);
  Statement(Statement&&) = default;
  Statement& operator=(Statement&&) = default;

  bool valid() const { return statement_ != nullptr; }
  sqlite3_stmt* get() const { return statement_.get(); }

  class Use {
   public:
    explicit Use(Statement& statement) : statement_(statement.get()) {}
    ~Use() {
      sqlite3_reset(statement_);
      sqlite3_clear_bindings(statement_);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    void bind(int index, std::string_view text);
    void bind(int index, int64_t number);
    void bindNull(int index);
    // The first step waits out locks held by other connections (up to the busy timeout);
    // later steps of the same query do not, since a started read is never blocked.
    int step();
    std::string_view text(int column) const;
    int64_t number(int column) const;
    bool isNull(int column) const;

   private:
    sqlite3_stmt* statement_;
    bool started_ = false;
  };

 private:
  struct Finalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
  };
  std::unique_ptr<sqlite3_stmt, Finalizer> statement_;
};

}  // namespace kiv::config
