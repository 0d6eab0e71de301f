// Events and waits: reset modes, which index a multiple wait reports, time-outs and failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "support/kiv_test.h"

namespace kiv::platform {
namespace {

TEST(Event, ManualResetStaysSignalledUntilReset) {
  Event event(Event::Reset::kManual);
  ASSERT_TRUE(event.valid());
  EXPECT_EQ(waitOne(event.handle(), 0), kWaitTimeout);
  EXPECT_EQ(waitOne(event.handle(), 30), kWaitTimeout);
  event.set();
  event.set();  // a second set must not need a second reset
  EXPECT_EQ(waitOne(event.handle(), 0), kWaitObject0);
  EXPECT_EQ(waitOne(event.handle(), kInfinite), kWaitObject0);
  event.reset();
  EXPECT_EQ(waitOne(event.handle(), 0), kWaitTimeout);
  Event initially(Event::Reset::kManual, true);
  EXPECT_EQ(waitOne(initially.handle(), 0), kWaitObject0);
}

TEST(Event, AutoResetSignalIsTakenByOneWait) {
  Event event(Event::Reset::kAuto, true);
  EXPECT_EQ(waitOne(event.handle(), 0), kWaitObject0);
  EXPECT_EQ(waitOne(event.handle(), 0), kWaitTimeout);
  event.set();
  event.set();  // sets do not accumulate
  EXPECT_EQ(waitOne(event.handle(), 0), kWaitObject0);
  EXPECT_EQ(waitOne(event.handle(), 0), kWaitTimeout);
  event.set();
  event.reset();
  EXPECT_EQ(waitOne(event.handle(), 0), kWaitTimeout);
}

// Several threads wait on one auto-reset event; each set must wake exactly one of them.
TEST(Event, AutoResetWakesExactlyOneOfSeveralWaiters) {
  Event work(Event::Reset::kAuto);
  Event stop(Event::Reset::kManual);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) {
    waiters.emplace_back([&] {
      const WaitHandle handles[] = {stop.handle(), work.handle()};
      while (waitAny(handles, kInfinite) == kWaitObject0 + 1) ++woken;
    });
  }
  int rounds = 0;
  while (rounds < 200) {
    work.set();
    ++rounds;
    // Waiters must be joined whatever happens, so failures end the loop instead of the test.
    if (!kivtest::waitFor([&] { return woken.load() >= rounds; }) || woken.load() != rounds) break;
  }
  stop.set();
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(rounds, 200);
  EXPECT_EQ(woken.load(), rounds);
  EXPECT_EQ(waitOne(work.handle(), 0), kWaitTimeout);
}

TEST(Event, WaitAnyReportsLowestSignalledIndex) {
  Event first(Event::Reset::kManual);
  Event second(Event::Reset::kAuto);
  Event third(Event::Reset::kAuto);
  const WaitHandle handles[] = {first.handle(), second.handle(), third.handle()};
  third.set();
  second.set();
  // The lower auto-reset event wins and only its signal is taken.
  EXPECT_EQ(waitAny(handles, 0), kWaitObject0 + 1);
  EXPECT_EQ(waitAny(handles, 0), kWaitObject0 + 2);
  EXPECT_EQ(waitAny(handles, 0), kWaitTimeout);
  first.set();
  third.set();
  EXPECT_EQ(waitAny(handles, kInfinite), kWaitObject0);
  EXPECT_EQ(waitAny(handles, kInfinite), kWaitObject0);  // manual: still signalled
  first.reset();
  EXPECT_EQ(waitAny(handles, 0), kWaitObject0 + 2);
}

TEST(Event, InvalidOrClosedHandlesFail) {
  errno = 0;
  EXPECT_EQ(waitOne(WaitHandle{}, kInfinite), kWaitFailed);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(waitAny({}, 0), kWaitFailed);

  // A descriptor closed under the waiter fails the wait instead of reporting a signal.
  Event live(Event::Reset::kManual, true);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const WaitHandle closed{pipeFds[0], false};
  close(pipeFds[0]);
  close(pipeFds[1]);
  const WaitHandle handles[] = {live.handle(), closed};
  errno = 0;
  EXPECT_EQ(waitAny(handles, kInfinite), kWaitFailed);
  EXPECT_EQ(errno, EBADF);
}

}  // namespace
}  // namespace kiv::platform
