// Costs of the units exports, each measured beside the raw SQLite work it stands for on the
// same config.db: adding a unit (its reads and writes, one transaction each), reading a
// unit (one query over its section) and listing units (one query over every value of
// every unit). Runs in a temporary KIV_HOME.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "ITQConfig.h"
#include "tqNotify/framework/TQptr.h"
#include "tqNotify/tqNotify.h"
#include "support/bench_home.h"

namespace {

// Sections below the units section, as the store keys them (names are lower case here,
// so folded and written names agree).
constexpr const char* kUnitsFrom = "dlox/agent/units/";
constexpr const char* kUnitsTo = "dlox/agent/units0";

class Database {
 public:
  // `mapped`: pages read through a memory map, as the configuration store reads them.
  explicit Database(bool mapped = false) {
    std::string path = std::string(getenv("KIV_HOME")) + "/config.db";
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) std::abort();
    sqlite3_busy_timeout(db_, 10000);
    exec("PRAGMA journal_mode = WAL");
    exec("PRAGMA synchronous = NORMAL");  // as the configuration store commits
    if (mapped) exec("PRAGMA mmap_size = 268435456");
  }
  ~Database() { sqlite3_close(db_); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void exec(const char* sql) { sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
  sqlite3_stmt* prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK) {
      std::fprintf(stderr, "%s: %s\n", sql, sqlite3_errmsg(db_));
      std::abort();
    }
    return statement;
  }

 private:
  sqlite3* db_ = nullptr;
};

Database& database() {
  static Database db;
  return db;
}

Database& mappedDatabase() {
  static Database db(true);
  return db;
}

// Touches every column of every row, as a reader of the values would.
int64_t drain(sqlite3_stmt* statement) {
  int64_t bytes = 0;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
      sqlite3_column_text(statement, column);
      bytes += sqlite3_column_bytes(statement, column);
    }
  }
  sqlite3_reset(statement);
  return bytes;
}

const char* const kStringKeys[] = {
    "executioncontext", "previousmanageraddress", "domain",        "user",
    "previousserveraddress", "previousdomainuuid", "uri",          "lastmsisource",
    "currentmanageraddress", "currentdomainuuid",  "previousuri"};

// Fills the store up to `count` enumerable units with every field set, in one
// transaction straight into config.db (the exports would take minutes for 10,000).
void ensureUnits(int count) {
  TQptr<ITQConfig> config;  // makes sure the store and its schema exist
  TQUtilities_GetConfigEx(config.fill(), -1);
  static int present = 0;
  if (present >= count) return;
  Database& db = database();
  sqlite3_stmt* insert = db.prepare(
      "INSERT OR REPLACE INTO config_values(section_id, key_id, section, key, type, text, number)"
      " VALUES(?1, ?2, ?1, ?2, ?3, ?4, ?5)");
  auto put = [&](const std::string& section, const char* key, const char* text, int number) {
    sqlite3_bind_text(insert, 1, section.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, key, -1, SQLITE_STATIC);
    sqlite3_bind_int(insert, 3, text ? 0 : 1);
    if (text) {
      sqlite3_bind_text(insert, 4, text, -1, SQLITE_TRANSIENT);
      sqlite3_bind_null(insert, 5);
    } else {
      sqlite3_bind_null(insert, 4);
      sqlite3_bind_int(insert, 5, number);
    }
    sqlite3_step(insert);
    sqlite3_reset(insert);
  };
  db.exec("BEGIN IMMEDIATE");
  for (; present < count; ++present) {
    char name[32];
    std::snprintf(name, sizeof name, "enum-%06d", present);
    std::string section = std::string(kUnitsFrom) + name;
    char home[16];
    std::snprintf(home, sizeof home, "%.8x", present + 1);
    put(section, "homedirectory", home, 0);
    put(section, "unittype", present % 2 ? "User" : "computerUser", 0);
    for (const char* key : kStringKeys) put(section, key, "some value of moderate length", 0);
    put(section, "triggable", nullptr, 1);
    put(section, "referencecount", nullptr, 2);
    put(section, "localuser", nullptr, 0);
  }
  db.exec("COMMIT");
  sqlite3_finalize(insert);
}

void BM_EnumerateUnitsExW(benchmark::State& state) {
  ensureUnits(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    UnitInfoW* list = nullptr;
    if (enumerateUnitsExW(&list, 0x3f, static_cast<uint32_t>(state.range(1))) != 0) {
      state.SkipWithError("enumeration failed");
    }
    freeUnitListW(list);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void rawScan(benchmark::State& state, Database& db) {
  ensureUnits(static_cast<int>(state.range(0)));
  sqlite3_stmt* scan = db.prepare(
      "SELECT section, key, type, text, number FROM config_values"
      " WHERE section_id >= ?1 AND section_id < ?2");
  sqlite3_bind_text(scan, 1, kUnitsFrom, -1, SQLITE_STATIC);
  sqlite3_bind_text(scan, 2, kUnitsTo, -1, SQLITE_STATIC);
  for (auto _ : state) benchmark::DoNotOptimize(drain(scan));
  sqlite3_finalize(scan);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_RawScanAllUnitValues(benchmark::State& state) { rawScan(state, database()); }
void BM_RawScanAllUnitValuesMapped(benchmark::State& state) { rawScan(state, mappedDatabase()); }

void BM_GetUnitW(benchmark::State& state) {
  ensureUnits(1000);
  int i = 0;
  for (auto _ : state) {
    UnitInfoW unit;
    unit.name.format(L"enum-%06d", i++ % 1000);
    if (getUnitW(&unit) != 0) state.SkipWithError("unit not found");
  }
}

void BM_RawReadUnitSection(benchmark::State& state) {
  ensureUnits(1000);
  sqlite3_stmt* read = database().prepare(
      "SELECT key, type, text, number FROM config_values WHERE section_id = ?1");
  int i = 0;
  for (auto _ : state) {
    char section[64];
    std::snprintf(section, sizeof section, "%senum-%06d", kUnitsFrom, i++ % 1000);
    sqlite3_bind_text(read, 1, section, -1, SQLITE_TRANSIENT);
    benchmark::DoNotOptimize(drain(read));
  }
  sqlite3_finalize(read);
}

void BM_AddUnitW_New(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    UnitInfoW unit;
    unit.name.format(L"add-%08d", i++);
    unit.unittype = L"User";
    unit.executioncontext = L"context";
    unit.triggable = 1;
    unit.domain = L"CORP";
    unit.user = L"alice";
    unit.localuser = 1;
    unit.uri = L"kiv://unit";
    if (addUnitW(&unit, 0x1e7) != 0) state.SkipWithError("addUnitW failed");
  }
}

// What a new unit with mask 0x1e7 costs in SQLite: two reads (home directory, counter) and
// nine writes (counter, home directory, seven fields), each write its own transaction.
void BM_RawAddUnitWork(benchmark::State& state) {
  Database& db = database();
  sqlite3_stmt* read = db.prepare(
      "SELECT type, text, number FROM config_values WHERE section_id = ?1 AND key_id = ?2");
  sqlite3_stmt* write = db.prepare(
      "INSERT INTO config_values(section_id, key_id, section, key, type, text, number)"
      " VALUES(?1, ?2, ?1, ?2, 0, 'value', NULL) ON CONFLICT(section_id, key_id) DO UPDATE"
      " SET type = excluded.type, text = excluded.text, number = excluded.number");
  int i = 0;
  for (auto _ : state) {
    char section[64];
    std::snprintf(section, sizeof section, "raw/units/add-%08d", i++);
    for (const char* key : {"homedirectory", "directorycounter"}) {
      sqlite3_bind_text(read, 1, section, -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(read, 2, key, -1, SQLITE_STATIC);
      benchmark::DoNotOptimize(drain(read));
    }
    for (const char* key : {"directorycounter", "homedirectory", "unittype", "executioncontext",
                            "triggable", "domain", "user", "localuser", "uri"}) {
      sqlite3_bind_text(write, 1, section, -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(write, 2, key, -1, SQLITE_STATIC);
      sqlite3_step(write);
      sqlite3_reset(write);
    }
  }
  sqlite3_finalize(read);
  sqlite3_finalize(write);
}

// Listing first, while the store holds only the enumerable units.
BENCHMARK(BM_EnumerateUnitsExW)->Args({1000, 0xffff})->Args({1000, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawScanAllUnitValues)->Args({1000})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnumerateUnitsExW)->Args({10000, 0xffff})->Args({10000, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawScanAllUnitValues)->Args({10000})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawScanAllUnitValuesMapped)->Args({10000})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetUnitW)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawReadUnitSection)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AddUnitW_New)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawAddUnitWork)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  kivbench::TemporaryHome home;
  return home ? kivbench::runBenchmarks(argc, argv) : 1;
}
