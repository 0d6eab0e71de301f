// Thread objects and in-process locks from TQOSThreadControl: wait returns only after the
// thread function returned, from any number of waiters, and locks exclude other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "TQOSServices.h"
#include "component_test_util.h"
#include "platform/event.h"
#include "support/kiv_test.h"
#include "tqNotify/framework/TQptr.h"

using kiv::platform::Event;

namespace {

struct Blocker {
  Event release{Event::Reset::kManual};
  std::atomic<bool> started{false};
  std::atomic<bool> returned{false};
  ITQOSThread* seenThread = nullptr;
};

int blockUntilReleased(void* first, void* argument) {
  auto* blocker = static_cast<Blocker*>(argument);
  blocker->seenThread = static_cast<ITQOSThread*>(first);
  blocker->started = true;
  kiv::platform::waitOne(blocker->release.handle(), kiv::platform::kInfinite);
  blocker->returned = true;
  return 0;
}

class ConcurrencyThreads : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(control_.CreateInstance(L"tqOSServices", "TQOSThreadControl")); }

  TQptr<ITQOSThread> start(Blocker& blocker) {
    TQptr<ITQOSThread> thread;
    EXPECT_TRUE(control_->startThread(blockUntilReleased, 0, &blocker, thread.fill()));
    return thread;
  }

  TQptr<TQOSThreadControl> control_;
};

}  // namespace

TEST_F(ConcurrencyThreads, WaitReturnsOnlyAfterTheFunctionReturned) {
  Blocker blocker;
  TQptr<ITQOSThread> thread = start(blocker);
  ASSERT_TRUE(thread);
  ASSERT_TRUE(kivtest::waitFor([&] { return blocker.started.load(); }));
  EXPECT_EQ(blocker.seenThread, thread.get());

  // Two waiters at once; each must see the function finished when its wait returns.
  std::atomic<int> waitsReturned{0};
  std::atomic<int> waitsBeforeReturn{0};
  auto waiter = [&] {
    EXPECT_EQ(thread->wait(), 0);
    if (!blocker.returned) ++waitsBeforeReturn;
    ++waitsReturned;
  };
  std::thread first(waiter);
  std::thread second(waiter);
  EXPECT_EQ(waitsReturned.load(), 0);
  blocker.release.set();
  first.join();
  second.join();
  EXPECT_EQ(waitsReturned.load(), 2);
  EXPECT_EQ(waitsBeforeReturn.load(), 0);
  EXPECT_EQ(thread->wait(), 0);  // again, after the join
}

TEST_F(ConcurrencyThreads, DroppingTheLastReferenceWhileRunningWaitsForTheFunction) {
  Blocker blocker;
  TQptr<ITQOSThread> thread = start(blocker);
  ASSERT_TRUE(kivtest::waitFor([&] { return blocker.started.load(); }));
  std::thread releaser([&] { thread.Release(); });
  blocker.release.set();
  releaser.join();
  EXPECT_TRUE(blocker.returned);
}

// The function itself drops the last reference to its thread object.
TEST_F(ConcurrencyThreads, TheFunctionMayReleaseItsOwnThreadObject) {
  struct Handover {
    TQptr<ITQOSThread> thread;
    std::promise<void> ready;
    std::atomic<bool> done{false};
  } handover;
  auto function = [](void* first, void* argument) {
    auto* h = static_cast<Handover*>(argument);
    h->ready.get_future().wait();
    EXPECT_NE(static_cast<ITQOSThread*>(first)->wait(), 0);  // cannot wait for itself
    h->thread.Release();
    h->done = true;
    return 0;
  };
  ASSERT_TRUE(control_->startThread(function, 0, &handover, handover.thread.fill()));
  handover.ready.set_value();
  EXPECT_TRUE(kivtest::waitFor([&] { return handover.done.load(); }));
}

TEST_F(ConcurrencyThreads, InProcessLocksAreRecursiveAndExcludeOtherThreads) {
  TQptr<ITQOSLock> lock;
  ASSERT_TRUE(control_->createLock(lock.fill()));
  TQptr<ITQOSLock> mutex;
  ASSERT_TRUE(control_->createMutex(nullptr, 0, mutex.fill()));

  for (ITQOSLock* object : {lock.get(), mutex.get()}) {
    ASSERT_EQ(object->lock(), 0);
    ASSERT_EQ(object->lock(), 0);  // the owner may take it again
    std::thread other([object] {
      EXPECT_EQ(object->tryLock(10), static_cast<int>(kiv::platform::kWaitTimeout));
      EXPECT_NE(object->unlock(), 0);  // not the owner's to give up
    });
    other.join();
    EXPECT_EQ(object->unlock(), 0);
    EXPECT_EQ(object->unlock(), 0);
    std::thread taker([object] {
      EXPECT_EQ(object->tryLock(kiv::platform::kInfinite), 0);
      EXPECT_EQ(object->unlock(), 0);
    });
    taker.join();
  }
}

// Like a Windows mutex, a lock whose owning thread ended without giving it up is abandoned:
// the next thread gets it and is told so, once.
TEST_F(ConcurrencyThreads, InProcessLocksAreAbandonedWhenTheirOwnerEnds) {
  TQptr<ITQOSLock> lock;
  ASSERT_TRUE(control_->createLock(lock.fill()));
  TQptr<ITQOSLock> mutex;
  ASSERT_TRUE(control_->createMutex(nullptr, 0, mutex.fill()));

  for (ITQOSLock* object : {lock.get(), mutex.get()}) {
    std::thread([object] {
      ASSERT_EQ(object->lock(), 0);
      ASSERT_EQ(object->lock(), 0);  // ends holding it twice
    }).join();
    EXPECT_EQ(object->tryLock(20000), static_cast<int>(kiv::platform::kWaitAbandoned));
    EXPECT_EQ(object->unlock(), 0);
    EXPECT_NE(object->unlock(), 0) << "held once by its new owner, whatever the old depth";
    std::thread([object] {
      EXPECT_EQ(object->tryLock(0), 0) << "given up properly: not abandoned again";
      EXPECT_EQ(object->unlock(), 0);
    }).join();
  }
  // lock itself answers 0 for an abandoned lock: the caller holds it.
  for (ITQOSLock* object : {lock.get(), mutex.get()}) {
    std::thread([object] { ASSERT_EQ(object->lock(), 0); }).join();
    EXPECT_EQ(object->lock(), 0);
    EXPECT_EQ(object->unlock(), 0);
    EXPECT_NE(object->unlock(), 0);
  }
  // A lock destroyed after its owner registered it is not touched when that owner ends.
  std::thread([this] {
    TQptr<ITQOSLock> shortLived;
    ASSERT_TRUE(control_->createLock(shortLived.fill()));
    ASSERT_EQ(shortLived->lock(), 0);
  }).join();
}

// A thread that dropped its own object keeps the module loaded for good (its code was
// still running), so unloading is checked in a process where no earlier test did that.
TEST(ConcurrencyModuleLoads, EveryHandedOutObjectPaysForItsOwnModuleLoad) {
  if (kivtest::ranInOwnProcess()) return;
  auto loaded = [] { return componenttest::moduleLoaded("tqOSServices"); };
  {
    TQptr<TQOSThreadControl> control;
    ASSERT_TRUE(control.CreateInstance(L"tqOSServices", "TQOSThreadControl"));
    const HTQMODULE module = control->GetLibraryHandle();
    TQptr<ITQOSLock> lock;
    ASSERT_TRUE(control->createLock(lock.fill()));
    EXPECT_EQ(lock->GetLibraryHandle(), module);
    EXPECT_EQ(TQFactory_GetInstCount(module), 2);
    // The lock's last holder unloads once; the control's own load keeps the module.
    lock.Release();
    EXPECT_EQ(TQFactory_GetInstCount(module), 1);
    ASSERT_TRUE(loaded());
    ASSERT_TRUE(control->createLock(lock.fill()));
    control.Release();
    ASSERT_TRUE(loaded());  // the lock still holds a load
    EXPECT_EQ(lock->lock(), 0);
    EXPECT_EQ(lock->unlock(), 0);
  }
  EXPECT_FALSE(loaded());
}
