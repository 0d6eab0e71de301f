// The units lock across processes: concurrent adders never share a home directory, adders
// of the same names make each unit once, an adder killed in the middle of an add leaves
// nothing half-made that reads would take for a unit, a killed holder does not block the
// next taker, and the lock reports a missing component.
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/utf8.h"
#include "support/kiv_test.h"
#include "support/test_process.h"
#include "units_fixture.h"

namespace unitstest {
namespace {

namespace fs = std::filesystem;

std::string helper() { return program("units_helper"); }

// A units_helper process, killed and waited for when the test leaves, whatever happened.
class Helper {
 public:
  explicit Helper(const std::string& arguments) {
    const std::string line = helper() + " " + arguments;
    process_ = kiv::platform::Process::startHidden(kiv::utf::widen(line));
    EXPECT_TRUE(process_) << line;
  }
  ~Helper() { kill(); }
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;

  // The exit code once it ended (-1 when ended by a signal), or nothing when it did not end
  // in time; it is killed then.
  std::optional<int> finish(uint32_t timeoutMs = 90000) {
    if (!process_) return -1;
    if (process_->wait(timeoutMs) != kiv::platform::kWaitObject0) {
      kill();
      return std::nullopt;
    }
    return process_->exitCode();
  }
  // Kills it (if still there) and waits for its end.
  void kill() {
    if (!process_ || process_->wait(0) == kiv::platform::kWaitObject0) return;
    kivtest::killProcess(process_->pid());
    process_->wait(kiv::platform::kInfinite);
  }

 private:
  std::unique_ptr<kiv::platform::Process> process_;
};

// Sets a variable of this process's environment, inherited by the processes it starts,
// and puts the old value back when it leaves.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    kivtest::setEnvironment(name, value.c_str(), true);
  }
  ~ScopedVariable() {
    if (previous_) {
      kivtest::setEnvironment(name_, previous_->c_str(), true);
    } else {
      kivtest::unsetEnvironment(name_);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

// Runs adders side by side and expects each to succeed.
void runAdders(const std::vector<std::string>& argumentLists) {
  std::vector<std::unique_ptr<Helper>> adders;
  for (const auto& arguments : argumentLists) adders.push_back(std::make_unique<Helper>(arguments));
  for (std::size_t i = 0; i < adders.size(); ++i) {
    EXPECT_EQ(adders[i]->finish(), std::optional<int>(0)) << "adder " << argumentLists[i];
  }
}

TEST_F(UnitsTest, ConcurrentAddersUnderTheLock) {
  std::vector<std::string> adders;
  for (int process = 0; process < 4; ++process) adders.push_back("add p" + std::to_string(process) + " 250");
  runAdders(adders);
  if (HasFailure()) return;

  EXPECT_EQ(counter(), 1000);
  UnitInfoW* list = nullptr;
  ASSERT_EQ(enumerateUnitsExW(&list, kUnitTypeUser, 0), 0);
  std::set<std::string> homes;
  int units = 0;
  for (const UnitInfoW* record = list; record != nullptr; record = record->next, ++units) {
    homes.insert(narrow(record->homedirectory));
  }
  freeUnitListW(list);
  EXPECT_EQ(units, 1000);
  EXPECT_EQ(homes.size(), 1000u);
  int directories = 0;
  for (const auto& entry : fs::directory_iterator(unitsDirectory())) directories += entry.is_directory();
  EXPECT_EQ(directories, 1000);
}

TEST_F(UnitsTest, ConcurrentAddersOfTheSameNamesMakeEachUnitOnce) {
  const int32_t before = std::max(counter(), 0);
  runAdders(std::vector<std::string>(4, "add same 50"));
  if (HasFailure()) return;

  EXPECT_EQ(counter(), before + 50);
  UnitInfoW* list = nullptr;
  ASSERT_EQ(enumerateUnitsExW(&list, kUnitTypeUser, 0), 0);
  std::set<std::string> names;
  int listed = 0;
  for (const UnitInfoW* record = list; record != nullptr; record = record->next) {
    if (!record->name.str().starts_with(L"same-")) continue;
    ++listed;
    names.insert(narrow(record->name));
  }
  freeUnitListW(list);
  EXPECT_EQ(listed, 50);
  EXPECT_EQ(names.size(), 50u);
}

// Holds the write lock of the configuration store: a process that writes a value waits
// inside that write until the lock is given back.
class StoreWriteLock {
 public:
  StoreWriteLock() {
    if (sqlite3_open_v2((kivtest::home() + "/config.db").c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      return;
    sqlite3_busy_timeout(db_, 20000);
    held_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~StoreWriteLock() {
    if (held_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
  }
  bool held() const { return held_; }

  // What a fresh connection reads for a section whose name contains `text`, for messages.
  static std::string rowsOf(const std::string& text) {
    sqlite3* db = nullptr;
    std::string rows;
    if (sqlite3_open_v2((kivtest::home() + "/config.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      const std::string sql = "SELECT section || ' ' || key || '=' || coalesce(text, number) FROM config_values"
                              " WHERE section LIKE '%" + text + "%'";
      sqlite3_exec(db, sql.c_str(), [](void* out, int, char** values, char**) {
        *static_cast<std::string*>(out) += std::string(values[0] ? values[0] : "?") + "; ";
        return 0;
      }, &rows, nullptr);
    }
    sqlite3_close(db);
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
  bool held_ = false;
};

// Makes the configuration store refuse every write of one key, as a store that cannot take
// a write answers: the statement fails inside SQLite. Taken away again when it leaves.
class StoreRefusesKey {
 public:
  explicit StoreRefusesKey(const std::string& key) {
    if (sqlite3_open_v2((kivtest::home() + "/config.db").c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      return;
    sqlite3_busy_timeout(db_, 20000);
    const std::string sql = "CREATE TRIGGER refuse_insert BEFORE INSERT ON config_values WHEN NEW.key_id = '" + key +
                            "' BEGIN SELECT RAISE(ABORT, 'refused'); END;"
                            "CREATE TRIGGER refuse_update BEFORE UPDATE ON config_values WHEN NEW.key_id = '" + key +
                            "' BEGIN SELECT RAISE(ABORT, 'refused'); END;";
    active_ = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~StoreRefusesKey() {
    sqlite3_exec(db_, "DROP TRIGGER IF EXISTS refuse_insert; DROP TRIGGER IF EXISTS refuse_update;", nullptr, nullptr,
                 nullptr);
    sqlite3_close(db_);
  }
  bool active() const { return active_; }

 private:
  sqlite3* db_ = nullptr;
  bool active_ = false;
};

// An add whose write the store refuses is a failed add, both for a new unit and for the
// fields of one that exists; nothing is claimed stored that was not.
TEST_F(UnitsTest, AddWhoseWriteIsRefusedFails) {
  UnitInfoW first = unit(L"refused-new", L"User");
  UnitInfoW second = unit(L"refused-old", L"User");
  ASSERT_EQ(addUnitW(&second, 0), 0);
  {
    StoreRefusesKey refusal("unittype");
    ASSERT_TRUE(refusal.active());
    EXPECT_NE(addUnitW(&first, kUnitType), 0);
    EXPECT_NE(addUnitW(&second, kUnitType), 0);
  }
  EXPECT_EQ(value(L"refused-old", L"unittype"), "<missing>");
  // Once the store takes writes again, the same add succeeds in full.
  ASSERT_EQ(addUnitW(&first, kUnitType), 0);
  EXPECT_EQ(value(L"refused-new", L"unittype"), "User");
}

TEST_F(UnitsTest, AdderKilledInTheMiddleOfAnAddLeavesNoUnit) {
  const int32_t before = std::max(counter(), 0);
  const std::string homeName = TQStringA().format("%.8x", before + 1).str();
  {
    StoreWriteLock writes;
    ASSERT_TRUE(writes.held());
    Helper adder("add half 1");
    // An add makes the home directory before it writes the counter: once the directory is
    // there, the adder is inside the add, waiting to write.
    ASSERT_TRUE(kivtest::waitFor([&] { return fs::is_directory(unitsDirectory() + "/" + homeName); }));
    adder.kill();
    EXPECT_NE(adder.finish(), std::optional<int>(0)) << "the adder was killed, not finished";
  }
  UnitInfoW half = unit(L"half-0");
  EXPECT_EQ(getUnitW(&half), 5) << "no unit without its values";
  EXPECT_EQ(std::max(counter(), 0), before);
  UnitInfoW* list = nullptr;
  if (enumerateUnitsExW(&list, 0x3f, 0xffff) == 0) {
    for (const UnitInfoW* record = list; record != nullptr; record = record->next)
      EXPECT_NE(narrow(record->name), "half-0");
    freeUnitListW(list);
  }

  // The units lock died with the adder, and the add can be made again in full.
  ASSERT_EQ(Helper("add half 1").finish(20000), std::optional<int>(0));
  UnitInfoW whole = unit(L"half-0");
  ASSERT_EQ(getUnitW(&whole), 0) << "stored: " << StoreWriteLock::rowsOf("half-0");
  EXPECT_EQ(narrow(whole.unittype), "User");
  EXPECT_EQ(narrow(whole.homedirectory), homeName) << "the counter was never advanced";
}

TEST_F(UnitsTest, KilledHolderDoesNotBlockTheLock) {
  std::string marker = kivtest::home() + "/holding";
  Helper holder("hold " + marker);
  ASSERT_TRUE(kivtest::waitFor([&] { return fs::exists(marker); }));

  // While it is held, another process cannot take it.
  EXPECT_EQ(Helper("lock").finish(1000), std::nullopt) << "took a held lock";

  holder.kill();
  EXPECT_EQ(Helper("lock").finish(20000), std::optional<int>(0));
}

TEST_F(UnitsTest, LockWithoutThreadControlComponent) {
  // A copy of the libraries without tqOSServices, and an empty module path: the factory finds
  // the component neither on the path nor beside tqUtilities.
  std::string libs = (fs::path(kivtest::home()) / "libs").string();
  std::string empty = kivtest::home() + "/modules";
  fs::create_directories(libs);
  fs::create_directories(empty);
#ifdef _WIN32
  // Windows loads a program's libraries from the program's own directory first.
  const std::string copy = (fs::path(libs) / "units_helper.exe").string();
  fs::copy_file(helper(), copy);
  for (const auto& entry : fs::directory_iterator(fs::path(helper()).parent_path())) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".dll") && name != "tqOSServices.dll") fs::copy_file(entry.path(), libs + "/" + name);
  }
  ScopedVariable modules("KIV_MODULE_PATH", empty);
#else
  const std::string copy = helper();
  for (const auto& entry : fs::directory_iterator(kivtest::libDir())) {
    std::string name = entry.path().filename();
    if (name.ends_with(".so") && name != "libtqOSServices.so") {
      fs::copy_file(entry.path(), libs + "/" + name);
    }
  }
  ScopedVariable libraries("LD_LIBRARY_PATH", libs);
  ScopedVariable modules("KIV_MODULE_PATH", empty);
#endif
  std::string output;
  int status = kivtest::run(copy + " lock", &output);
  EXPECT_EQ(status, 3) << output;
  EXPECT_EQ(output.substr(0, output.find_first_of("\r\n")), "3");
}

TEST_F(UnitsTest, UnitsPathWithoutConfigurationOrInstallDirectory) {
  // A home below a plain file can be neither found nor made.
  const std::string file = kivtest::home() + "/file";
  kivtest::writeFile(file, "");
  ScopedVariable home("KIV_HOME", file + "/kiv");
  std::string output;
  EXPECT_EQ(kivtest::run(helper() + " path", &output), 0);
  EXPECT_EQ(output.substr(0, output.find_first_of("\r\n")), "C:\\units");
}

}  // namespace
}  // namespace unitstest
