// Shutdown while messages are being handled or keep arriving: it must finish, report its
// end once, and leave no callback running or starting afterwards.
#ifndef _WIN32
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "TQOSServices.h"
#include "notifier/NotifierTest.h"
#include "tqNotify/notifier/ProcessState.h"

namespace notifiertest {
namespace {

const std::string kDocked =
    "<Notification Type=\"Docked\"><Id>1</Id><Type>dockingDevicePalm</Type></Notification>";

using ShutdownTest = NotifierTest;

uint32_t trySend(const std::string& text, int* result) {
  uint32_t status = 0xFFFFFFFF;
  *result = SmSend("tqNotify", text.c_str(), static_cast<uint32_t>(text.size()), &status, 10000);
  return status;
}

TEST_F(ShutdownTest, MessageInHandlingFinishesAndLaterOnesAreRefused) {
  start("10.0");
  sink_.holdCode(6);
  std::thread held([] { EXPECT_EQ(sendToNotifier(kDocked), kSmTaken); });
  ASSERT_TRUE(kivtest::waitFor([&] { return sink_.heldCount() == 1; }));

  std::atomic<bool> shutDown{false};
  std::thread stopper([&] {
    shutdown();
    shutDown = true;
  });
  ASSERT_TRUE(kivtest::waitFor([] { return tqnotify::terminating.load() != 0; }));

  // Messages sent now are refused (or find the endpoint gone) and never handled.
  std::vector<std::thread> burst;
  for (int i = 0; i < 4; ++i) {
    burst.emplace_back([] {
      int result = 0;
      const uint32_t status = trySend(kDocked, &result);
      if (result == 0) {
        EXPECT_EQ(status, kSmRefused);
      }
    });
  }
  // Shutdown waits for the message in handling.
  EXPECT_FALSE(shutDown);

  sink_.release();
  held.join();
  stopper.join();
  for (auto& t : burst) t.join();
  EXPECT_EQ(sink_.codes(), (std::vector<int>{6, 1}));
  SmMessage message{0, kDocked.c_str()};
  EXPECT_EQ(onBusMessage(nullptr, nullptr, nullptr, 1, &message, notifier_), kSmRefused);
  EXPECT_EQ(sink_.codes(), (std::vector<int>{6, 1}));
}

// Only Linux shows from outside whether a thread is asleep on a lock (its state in /proc);
// Windows has no documented call that tells it.
#ifndef _WIN32
// True once the thread is asleep in the kernel (here: waiting for the access mutex).
bool threadBlocked(pid_t tid) {
  const std::string stat = kivtest::readFile("/proc/self/task/" + std::to_string(tid) + "/stat");
  const auto end = stat.rfind(')');
  return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] == 'S';
}

// A callback that passed the shutdown test and waits for the access mutex while shutdown
// begins must give up: neither handle its message nor take the mutex after shutdown.
TEST_F(ShutdownTest, CallbackWaitingForTheMutexGivesUpOnceShutdownBegins) {
  start("10.0");
  sink_.holdCode(6);
  std::thread holder([] { EXPECT_EQ(sendToNotifier(kDocked), kSmTaken); });
  ASSERT_TRUE(kivtest::waitFor([&] { return sink_.heldCount() == 1; }));

  std::atomic<pid_t> waiterTid{0};
  std::atomic<uint32_t> waiterStatus{0};
  std::thread waiter([&] {
    waiterTid = static_cast<pid_t>(syscall(SYS_gettid));
    SmMessage message{0, kDocked.c_str()};
    // The bus's own origin values are not at hand here, so the message counts as remote;
    // that is only looked at once the mutex is held.
    waiterStatus = onBusMessage(nullptr, nullptr, nullptr, 1, &message, notifier_);
  });
  ASSERT_TRUE(kivtest::waitFor([&] { return waiterTid != 0 && threadBlocked(waiterTid); }));

  std::thread stopper([&] { shutdown(); });
  ASSERT_TRUE(kivtest::waitFor([] { return tqnotify::terminating.load() != 0; }));
  sink_.release();
  holder.join();
  stopper.join();
  waiter.join();
  EXPECT_EQ(waiterStatus, kSmRefused);
  EXPECT_EQ(kivtest::countTrace("Ignoring notification from remote machine"), 0);
  EXPECT_EQ(sink_.codes(), (std::vector<int>{6, 1}));
}
#endif

// Every send of a burst across shutdown ends one of three ways: handled and taken, refused
// because shutdown had begun, or "nobody listening" once the endpoint is closed; a message
// that was handled is never reported as anything else.
TEST_F(ShutdownTest, BurstFromSeveralThreadsDuringShutdown) {
  start("10.0");
  std::atomic<bool> stopSending{false};
  std::atomic<int> taken{0}, refused{0}, gone{0}, other{0};
  std::mutex otherMutex;
  std::vector<std::pair<int, uint32_t>> others;  // (result, status) of unexpected ends
  std::vector<std::thread> senders;
  for (int i = 0; i < 6; ++i) {
    senders.emplace_back([&] {
      while (!stopSending) {
        int result = 0;
        const uint32_t status = trySend(kDocked, &result);
        if (result == kSmErrNoListener) {
          ++gone;
          break;  // the endpoint is closed for good
        }
        if (status == kSmTaken && result == 0) {
          ++taken;
        } else if (status == kSmRefused && result == 0) {
          ++refused;
        } else {
          std::lock_guard lock(otherMutex);
          others.emplace_back(result, status);
          ++other;
          break;
        }
      }
    });
  }
  ASSERT_TRUE(kivtest::waitFor([&] { return taken >= 20; }));
  shutdown();
  const std::size_t atShutdown = sink_.events().size();
  EXPECT_EQ(sink_.events().back().code, 1);
  // Every sender finds the endpoint closed on its next send at the latest.
  ASSERT_TRUE(kivtest::waitFor([&] { return gone + other == 6; }));
  stopSending = true;
  for (auto& t : senders) t.join();

  EXPECT_EQ(other.load(), 0) << "first unexpected end: result " << others.front().first
                            << ", status " << others.front().second;
  EXPECT_EQ(gone.load(), 6);
  const auto codes = sink_.codes();
  EXPECT_EQ(codes.size(), atShutdown);  // nothing handled after shutdown returned
  EXPECT_EQ(sink_.count(1), 1);
  EXPECT_EQ(static_cast<int>(codes.size()) - 1, taken.load());
  int status = 0;
  EXPECT_EQ(trySend(kDocked, &status), 0xFFFFFFFFu);
  EXPECT_EQ(status, kSmErrNoListener);
}

// On Windows 2000 a logon waits for the session's user; a shutdown cuts that wait short and
// the logon is still completed and reported before the end.
TEST_F(ShutdownTest, LogonWaitingForItsUserDuringShutdown) {
  kivtest::setEnvironment("KIV_MODULE_PATH", KIV_FAKE_OSSERVICES_DIR, true);
  kivtest::setEnvironment("KIV_FAKE_SESSIONS", (kivtest::home() + "/none").c_str(), true);
  const std::string queries = kivtest::home() + "/queries";
  kivtest::setEnvironment("KIV_FAKE_QUERY_LOG", queries.c_str(), true);
  markWinLogonLibraryInstalled();
  start("5.0");
  std::thread logon([] { EXPECT_EQ(sendToNotifier(logonMessage("Logon", "alice", "CORP", "7")), kSmTaken); });
  // The logon is in its wait once it has asked for the session's user.
  ASSERT_TRUE(kivtest::waitFor([&] { return !kivtest::readFile(queries).empty(); }));
  shutdown();
  logon.join();
  EXPECT_EQ(sink_.codes(), (std::vector<int>{2, 8, 1}));
}

// Every thread that took one of the notifier's locks is remembered until it ends, so that a
// lock its thread left held can be given to the next taker. Many short threads ending while
// others allocate must leave no damage behind: the lock still works, and nothing crashed
// when the threads ended.
TEST(ThreadEndTest, ManyShortThreadsThatTookALockEndCleanly) {
  TQptr<TQOSThreadControl> threads;
  ASSERT_TRUE(threads.CreateInstance(L"tqOSServices", "TQOSThreadControl"));
  TQptr<ITQOSLock> lock;
  ASSERT_TRUE(threads->createLock(lock.fill()));
  std::atomic<bool> churning{true};
  std::vector<std::thread> churners;
  for (int i = 0; i < 2; ++i) {
    churners.emplace_back([&] {
      // Small blocks, freed and taken again at once, filled with a pattern that no valid
      // pointer holds.
      std::vector<std::unique_ptr<char[]>> blocks(256);
      for (unsigned n = 0; churning; ++n) {
        auto& block = blocks[n % blocks.size()];
        block = std::make_unique<char[]>(8 + n % 56);
        std::memset(block.get(), 0xA5, 8 + n % 56);
      }
    });
  }
  for (int round = 0; round < 50; ++round) {
    std::vector<std::thread> shortLived;
    for (int i = 0; i < 8; ++i) {
      shortLived.emplace_back([&] {
        EXPECT_EQ(lock->lock(), 0);
        EXPECT_EQ(lock->unlock(), 0);
      });
    }
    for (auto& thread : shortLived) thread.join();
  }
  churning = false;
  for (auto& thread : churners) thread.join();
  EXPECT_EQ(lock->tryLock(0), 0);
  lock->unlock();
}

}  // namespace
}  // namespace notifiertest
