// The units lock is the system-wide mutex Global\UNITSDB: held by one process it keeps
// every other out, and when its holder is killed the next waiter gets it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/named_mutex.h"
#include "probe_runner.h"
#include "tqNotify/tqNotify.h"

namespace {

TEST(UnitsLock, HeldByAnotherProcessUntilThatProcessIsKilled) {
  const std::wstring heldName = L"Local\\KIV units lock held " + std::to_wstring(GetCurrentProcessId());
  const HANDLE held = CreateEventW(nullptr, TRUE, FALSE, heldName.c_str());
  ASSERT_NE(held, nullptr);
  const HANDLE holder = wintest::startProbe(L"", L"hold-units-lock \"" + heldName + L"\"");
  ASSERT_NE(holder, nullptr);
  // The holder either reports the lock held or ends early with the reason as its exit code.
  const HANDLE either[] = {held, holder};
  const DWORD woken = WaitForMultipleObjects(2, either, FALSE, 120000);
  DWORD early = 0;
  if (woken != WAIT_OBJECT_0) GetExitCodeProcess(holder, &early);
  ASSERT_EQ(woken, WAIT_OBJECT_0) << "holder exit code " << early;

  auto units = kiv::platform::NamedMutex::open(L"Global\\UNITSDB");
  ASSERT_TRUE(units);
  EXPECT_FALSE(units->lock(200));
  ITQOSLock* mine = nullptr;
  TerminateProcess(holder, 9);
  WaitForSingleObject(holder, 120000);
  // The killed holder abandoned the mutex; waiting makes this thread its owner.
  EXPECT_TRUE(units->lock(120000));
  units->unlock();
  EXPECT_EQ(lockUnitsDB(&mine), 0);
  EXPECT_EQ(unlockUnitsDB(mine), 0);
  if (mine != nullptr) mine->Release();
  CloseHandle(holder);
  CloseHandle(held);
}

}  // namespace
