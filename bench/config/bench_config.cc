// Configuration store speed: point reads and writes through the config object beside the
// raw SQLite statement doing the same work, and the read pattern of a units enumeration
// inside a snapshot beside one query that reads every value of every unit.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ITQConfig.h"
#include "tqUtilities.h"
#include "support/bench_home.h"

namespace {

constexpr const char* kUpsert =
    "INSERT INTO config_values(section_id, key_id, section, key, type, text, number) "
    "VALUES(?1, ?2, ?1, ?2, ?3, ?4, ?5) ON CONFLICT(section_id, key_id) DO UPDATE SET "
    "type = excluded.type, text = excluded.text, number = excluded.number";

// The string fields of a unit, in the order the units code reads them, and its numbers.
const char* const kStringKeys[] = {"executioncontext", "previousmanageraddress", "domain", "user", "uri",
                                   "previousserveraddress", "previousdomainuuid", "lastmsisource",
                                   "currentmanageraddress", "currentdomainuuid", "previousuri"};
const char* const kNumberKeys[] = {"triggable", "referencecount", "localuser"};
const wchar_t* const kStringKeysW[] = {L"executioncontext", L"previousmanageraddress", L"domain", L"user", L"URI",
                                       L"previousserveraddress", L"previousdomainuuid", L"lastmsisource",
                                       L"currentmanageraddress", L"currentdomainuuid", L"previousuri"};
const wchar_t* const kNumberKeysW[] = {L"triggable", L"referencecount", L"localuser"};

// A second connection to config.db for the raw measurements, set up like the store's.
class Raw {
 public:
  Raw() {
    ITQConfig* config = nullptr;
    TQUtilities_GetConfigEx(&config, -1);  // creates the store and its tables
    if (config != nullptr) config->Release();
    sqlite3_open_v2((std::string(getenv("KIV_HOME")) + "/config.db").c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_busy_timeout(db_, 10000);
    sqlite3_exec(db_, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
  }
  ~Raw() { sqlite3_close_v2(db_); }
  sqlite3_stmt* prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    return statement;
  }
  sqlite3* db() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

Raw& raw() {
  static Raw instance;
  return instance;
}

struct Config {
  Config() { TQUtilities_GetConfigEx(&object, -1); }
  ~Config() { object->Release(); }
  ITQConfig* operator->() const { return object; }
  ITQConfig* object = nullptr;
};

// ---- Point reads and writes.

void BM_ConfigGetStringW(benchmark::State& state) {
  Config config;
  config->setStringW(L"bench/point", L"text", L"some text value", 0);
  if (state.range(0)) config->beginSnapshot();
  wchar_t buffer[256];
  for (auto _ : state) {
    uint32_t size = 256;
    benchmark::DoNotOptimize(config->getStringW(L"bench/point", L"text", buffer, &size, 0));
  }
  if (state.range(0)) config->endSnapshot();
}
BENCHMARK(BM_ConfigGetStringW)->ArgName("snapshot")->Arg(0)->Arg(1);

void BM_RawGetString(benchmark::State& state) {
  Config()->setStringW(L"bench/point", L"text", L"some text value", 0);
  sqlite3_stmt* select = raw().prepare("SELECT type, text, number FROM config_values WHERE section_id = ?1 AND key_id = ?2");
  wchar_t buffer[256];
  for (auto _ : state) {
    sqlite3_bind_text(select, 1, "bench/point", -1, SQLITE_STATIC);
    sqlite3_bind_text(select, 2, "text", -1, SQLITE_STATIC);
    if (sqlite3_step(select) == SQLITE_ROW) {
      const auto* text = sqlite3_column_text(select, 1);
      int n = 0;
      for (; text[n] != 0 && n < 255; ++n) buffer[n] = text[n];
      buffer[n] = 0;
    }
    sqlite3_reset(select);
    benchmark::DoNotOptimize(buffer);
  }
  sqlite3_finalize(select);
}
BENCHMARK(BM_RawGetString);

void BM_ConfigGetNumber(benchmark::State& state) {
  Config config;
  config->setNumber(L"bench/point", L"number", 4711, 0);
  int32_t value = 0;
  for (auto _ : state) benchmark::DoNotOptimize(config->getNumber(L"bench/point", L"number", &value, 0));
}
BENCHMARK(BM_ConfigGetNumber);

void BM_RawGetNumber(benchmark::State& state) {
  Config()->setNumber(L"bench/point", L"number", 4711, 0);
  sqlite3_stmt* select = raw().prepare("SELECT type, text, number FROM config_values WHERE section_id = ?1 AND key_id = ?2");
  int32_t value = 0;
  for (auto _ : state) {
    sqlite3_bind_text(select, 1, "bench/point", -1, SQLITE_STATIC);
    sqlite3_bind_text(select, 2, "number", -1, SQLITE_STATIC);
    if (sqlite3_step(select) == SQLITE_ROW) value = sqlite3_column_int(select, 2);
    sqlite3_reset(select);
    benchmark::DoNotOptimize(value);
  }
  sqlite3_finalize(select);
}
BENCHMARK(BM_RawGetNumber);

void BM_ConfigSetStringW(benchmark::State& state) {
  Config config;
  int i = 0;
  for (auto _ : state) {
    const std::wstring value = L"value " + std::to_wstring(++i);
    benchmark::DoNotOptimize(config->setStringW(L"bench/write", L"text", value.c_str(), 0));
  }
}
BENCHMARK(BM_ConfigSetStringW);

void BM_RawSetString(benchmark::State& state) {
  sqlite3_stmt* upsert = raw().prepare(kUpsert);
  int i = 0;
  for (auto _ : state) {
    const std::string value = "value " + std::to_string(++i);
    sqlite3_bind_text(upsert, 1, "bench/rawwrite", -1, SQLITE_STATIC);
    sqlite3_bind_text(upsert, 2, "text", -1, SQLITE_STATIC);
    sqlite3_bind_int(upsert, 3, 0);
    sqlite3_bind_text(upsert, 4, value.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_null(upsert, 5);
    benchmark::DoNotOptimize(sqlite3_step(upsert));
    sqlite3_reset(upsert);
  }
  sqlite3_finalize(upsert);
}
BENCHMARK(BM_RawSetString);

void BM_ConfigSetNumber(benchmark::State& state) {
  Config config;
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(config->setNumber(L"bench/write", L"number", ++i, 0));
}
BENCHMARK(BM_ConfigSetNumber);

void BM_RawSetNumber(benchmark::State& state) {
  sqlite3_stmt* upsert = raw().prepare(kUpsert);
  int i = 0;
  for (auto _ : state) {
    sqlite3_bind_text(upsert, 1, "bench/rawwrite", -1, SQLITE_STATIC);
    sqlite3_bind_text(upsert, 2, "number", -1, SQLITE_STATIC);
    sqlite3_bind_int(upsert, 3, 1);
    sqlite3_bind_null(upsert, 4);
    sqlite3_bind_int(upsert, 5, ++i);
    benchmark::DoNotOptimize(sqlite3_step(upsert));
    sqlite3_reset(upsert);
  }
  sqlite3_finalize(upsert);
}
BENCHMARK(BM_RawSetNumber);

void BM_ConfigObtainAndRelease(benchmark::State& state) {
  for (auto _ : state) {
    ITQConfig* config = nullptr;
    TQUtilities_GetConfigEx(&config, -1);
    benchmark::DoNotOptimize(config);
    config->Release();
  }
}
BENCHMARK(BM_ConfigObtainAndRelease);

// ---- Enumeration of many units.

// Fills "dlox/agent/units" with `units` units of 16 values each, once per size.
void populate(int units) {
  static int populated = 0;
  if (populated >= units) return;
  sqlite3_stmt* upsert = raw().prepare(kUpsert);
  sqlite3_exec(raw().db(), "BEGIN", nullptr, nullptr, nullptr);
  for (int u = populated; u < units; ++u) {
    char section[64], home[16];
    std::snprintf(section, sizeof section, "dlox/agent/units/corp|user%d", u);
    std::snprintf(home, sizeof home, "%.8x", u + 1);
    auto put = [&](const char* key, const char* text, int number) {
      sqlite3_bind_text(upsert, 1, section, -1, SQLITE_STATIC);
      sqlite3_bind_text(upsert, 2, key, -1, SQLITE_STATIC);
      sqlite3_bind_int(upsert, 3, text == nullptr);
      if (text != nullptr) sqlite3_bind_text(upsert, 4, text, -1, SQLITE_STATIC); else sqlite3_bind_null(upsert, 4);
      sqlite3_bind_int(upsert, 5, number);
      sqlite3_step(upsert);
      sqlite3_reset(upsert);
    };
    put("homedirectory", home, 0);
    put("unittype", "User", 0);
    for (const char* key : kStringKeys) put(key, "some.value.of.a.typical.length", 0);
    for (const char* key : kNumberKeys) put(key, nullptr, 1);
  }
  sqlite3_exec(raw().db(), "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_finalize(upsert);
  populated = units;
}

// One read of a unit as the units code does it: a fresh object, the section name built,
// the values copied out as wide strings.
bool readUnit(const std::wstring& name, bool allFields, std::vector<std::wstring>& fields, int32_t* numbers) {
  ITQConfig* config = nullptr;
  TQUtilities_GetConfigEx(&config, -1);
  const std::wstring section = L"dlox/agent/units/" + name;
  wchar_t buffer[4096];
  uint32_t size = 4096;
  bool found = config->getStringW(section.c_str(), L"homedirectory", buffer, &size, 0) == 0;
  if (found) {
    fields[0].assign(buffer, size);
    size = 4096;
    if (config->getStringW(section.c_str(), L"unittype", buffer, &size, 0) == 0) fields[1].assign(buffer, size);
  }
  if (found && allFields) {
    int f = 2;
    for (const wchar_t* key : kStringKeysW) {
      size = 4096;
      if (config->getStringW(section.c_str(), key, buffer, &size, 0) == 0) fields[f].assign(buffer, size);
      ++f;
    }
    for (int n = 0; n < 3; ++n) config->getNumber(section.c_str(), kNumberKeysW[n], &numbers[n], 0);
  }
  config->Release();
  return found;
}

void enumerate(benchmark::State& state, bool snapshot) {
  populate(static_cast<int>(state.range(0)));
  std::vector<std::wstring> fields(16);
  int32_t numbers[3];
  for (auto _ : state) {
    Config config;
    if (snapshot) config->beginSnapshot();
    uint32_t count = 0, size = 0;
    config->listSections(L"dlox/agent/units", nullptr, &count, &size, 0);
    std::vector<wchar_t> names(size);
    config->listSections(L"dlox/agent/units", names.data(), &count, &size, 0);
    int listed = 0;
    for (const wchar_t* name = names.data(); *name != 0; name += wcslen(name) + 1) {
      if (readUnit(name, false, fields, numbers) && readUnit(name, true, fields, numbers)) ++listed;
    }
    if (snapshot) config->endSnapshot();
    if (listed != state.range(0)) state.SkipWithError("not every unit was read");
  }
  state.counters["units"] = static_cast<double>(state.range(0));
}

void BM_RawReadAllUnitValues(benchmark::State& state) {
  populate(static_cast<int>(state.range(0)));
  sqlite3_stmt* select = raw().prepare(
      "SELECT section, key, type, text, number FROM config_values "
      "WHERE section_id >= 'dlox/agent/units/' AND section_id < 'dlox/agent/units0'");
  for (auto _ : state) {
    int64_t rows = 0, bytes = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
      ++rows;
      bytes += sqlite3_column_bytes(select, 0) + sqlite3_column_bytes(select, 1) + sqlite3_column_int(select, 4);
      if (sqlite3_column_int(select, 2) == 0) bytes += sqlite3_column_bytes(select, 3);
    }
    sqlite3_reset(select);
    benchmark::DoNotOptimize(bytes);
    if (rows < state.range(0) * 16) state.SkipWithError("rows missing");
  }
  sqlite3_finalize(select);
}
// The store grows between sizes, so each size runs both forms before the next size.
void BM_EnumerateUnitsInSnapshot(benchmark::State& state) { enumerate(state, true); }
// The same without a snapshot: every read checks for other writers first.
void BM_EnumerateUnitsNoSnapshot(benchmark::State& state) { enumerate(state, false); }

BENCHMARK(BM_RawReadAllUnitValues)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnumerateUnitsInSnapshot)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnumerateUnitsNoSnapshot)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawReadAllUnitValues)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnumerateUnitsInSnapshot)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace


int main(int argc, char** argv) {
  kivbench::TemporaryHome home;
  return home ? kivbench::runBenchmarks(argc, argv) : 1;
}
