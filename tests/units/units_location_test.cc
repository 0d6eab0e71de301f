// Where the units directory is, and the units lock within one process.
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "support/kiv_test.h"
#include "units_fixture.h"

namespace unitstest {
namespace {

TEST_F(UnitsTest, UnitsPathFromConfigurationOrInstallDirectory) {
#ifdef _WIN32
  // A base that already ends in either separator gets no second one.
  const std::pair<const wchar_t*, std::wstring> configured[] = {
      {L"C:\\data", L"C:\\data\\Agent\\units"},
      {L"C:\\data\\", L"C:\\data\\Agent\\units"},
      {L"C:/data/", L"C:/data/Agent\\units"},
      {L"C:\\d\u00E4t\u00E4\\", L"C:\\d\u00E4t\u00E4\\Agent\\units"}};
#else
  const std::pair<const wchar_t*, std::wstring> configured[] = {
      {L"/srv/data", L"/srv/data/Agent/units"},
      {L"/srv/d\u00E4t\u00E4/", L"/srv/d\u00E4t\u00E4/Agent/units"}};
#endif
  EXPECT_EQ(getUnitsPathA().str(), unitsDirectory());

  for (const auto& [base, expected] : configured) {
    store().setStringW(L"dlox/common", L"configdata_location", base, 0);
    EXPECT_EQ(getUnitsPathW().str(), expected);
    EXPECT_EQ(getUnitsPathA().str(), narrow(TQStringW(expected.c_str())));
  }

  store().setStringW(L"dlox/common", L"configdata_location", L"", 0);
  EXPECT_EQ(getUnitsPathA().str(), unitsDirectory());
}

TEST_F(UnitsTest, LockAndUnlockInOneProcess) {
  EXPECT_EQ(unlockUnitsDB(nullptr), 0);
  TQptr<ITQOSLock> mutex;
  ASSERT_EQ(lockUnitsDB(mutex.fill()), 0);
  ASSERT_TRUE(mutex);
  UnitInfoW record = unit(L"locked", L"User");
  EXPECT_EQ(addUnitW(&record, kUnitType), 0);
  EXPECT_EQ(unlockUnitsDB(mutex.get()), 0);
  EXPECT_EQ(mutex.Release(), 1) << "the caller holds one reference";

  TQptr<ITQOSLock> again;
  EXPECT_EQ(lockUnitsDB(again.fill()), 0);
  unlockUnitsDB(again.get());
}

// A caller whose thread ended while it held the units lock leaves it abandoned; the next
// caller gets the lock. The next caller's thread exists before the first one ends, so it
// cannot be mistaken for it; a wedged lock fails the test instead of hanging it.
TEST_F(UnitsTest, LockAbandonedByAnEndedThreadIsTakenByTheNext) {
  std::promise<void> go;
  std::shared_future<void> started = go.get_future().share();
  auto result = std::make_shared<std::promise<int>>();
  auto answer = result->get_future();
  std::thread next([started, result] {
    started.wait();
    int locked = -1;
    {
      TQptr<ITQOSLock> mutex;
      locked = lockUnitsDB(mutex.fill());
      unlockUnitsDB(mutex.get());
    }
    result->set_value(locked);
  });

  TQptr<ITQOSLock> abandoned;  // the object outlives its owner thread
  std::thread([&] { ASSERT_EQ(lockUnitsDB(abandoned.fill()), 0); }).join();
  go.set_value();
  const bool answered = answer.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  answered ? next.join() : next.detach();
  ASSERT_TRUE(answered) << "the next caller is still waiting";
  EXPECT_EQ(answer.get(), 0);
}

}  // namespace
}  // namespace unitstest
