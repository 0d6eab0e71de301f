// Checking config.db with a connection of its own: SQLite's quick check reads every page,
// so a truncated or overwritten file is found even where the pages a command would read
// first are sound.
#include "tools/kiv/store_check.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/file_util.h"
#include "platform/home.h"
#include "tqUtilities.h"

namespace kiv::tool {
namespace {

// Writers of other processes may hold the store for a moment.
constexpr int kBusyTimeoutMs = 10000;

// Empty when the check finds nothing wrong, else SQLite's first complaint.
std::string quickCheck(sqlite3* db) {
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &raw, nullptr) != SQLITE_OK) return sqlite3_errmsg(db);
  std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> check(raw, sqlite3_finalize);
  if (sqlite3_step(check.get()) != SQLITE_ROW) return sqlite3_errmsg(db);
  const auto* verdict = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
  std::string text = verdict != nullptr ? verdict : "";
  if (text == "ok") return {};
  std::replace(text.begin(), text.end(), '\n', ' ');  // one line in messages and traces
  return text;
}

}  // namespace

std::string configStoreProblem() {
  std::string error;
  const std::string home = kiv::platform::kivHome(&error);
  if (home.empty()) return "the configuration store cannot be used: KIV_HOME is unusable: " + error;
  const std::string path = home + "/config.db";
  if (!kiv::platform::fileExists(path)) return {};
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, sqlite3_close);
  const std::string reason =
      rc != SQLITE_OK ? (raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)) : quickCheck(raw);
  if (reason.empty()) return {};
  return "the configuration store " + path + " is damaged or cannot be used: " + reason;
}

bool reportStoreProblem(const char* command) {
  const std::string problem = configStoreProblem();
  if (problem.empty()) return false;
  std::fprintf(stderr, "%s: %s\n", command, problem.c_str());
  TQUtilities_TraceErrorW(L"kiv", L"%hs: %hs", command, problem.c_str());
  return true;
}

}  // namespace kiv::tool
