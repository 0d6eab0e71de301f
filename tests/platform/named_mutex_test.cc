// Named mutexes: Windows ownership rules inside one process, exclusion across processes
// (a forked child included), release by the kernel when the holder dies, and abandonment
// when the owning thread or process ends.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/named_mutex.h"
#include "support/kiv_test.h"

namespace kiv::platform {
namespace {

// Whether another thread of this process could take the mutex right now.
bool takenByOtherThread(NamedMutex& mutex) {
  bool taken = false;
  std::thread other([&] {
    taken = mutex.lock(0);
    if (taken) mutex.unlock();
  });
  other.join();
  return taken;
}

TEST(NamedMutex, RecursiveForTheOwningThreadAcrossObjects) {
  auto first = NamedMutex::open(L"Recursive");
  auto second = NamedMutex::open(L"Recursive");
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(first->lock());
  ASSERT_TRUE(second->lock(0));  // same name, same thread: recursion, not a deadlock
  first->unlock();
  EXPECT_FALSE(takenByOtherThread(*first));
  second->unlock();
  EXPECT_TRUE(takenByOtherThread(*first));
}

TEST(NamedMutex, UnlockByNonOwnerIsIgnored) {
  auto mutex = NamedMutex::open(L"Owned");
  ASSERT_TRUE(mutex);
  mutex->unlock();  // not held at all
  ASSERT_TRUE(mutex->lock());
  std::thread([&] { mutex->unlock(); }).join();
  EXPECT_FALSE(takenByOtherThread(*mutex));
  mutex->unlock();
  EXPECT_TRUE(takenByOtherThread(*mutex));
}

TEST(NamedMutex, ExcludesThreadsAndTimesOut) {
  auto mutex = NamedMutex::open(L"Global\\Counter");
  ASSERT_TRUE(mutex);
  long counter = 0;  // deliberately unsynchronised apart from the mutex
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      auto own = NamedMutex::open(L"Global\\Counter");
      for (int i = 0; i < 500; ++i) {
        ASSERT_TRUE(own->lock());
        const long seen = counter;
        std::this_thread::yield();
        counter = seen + 1;
        own->unlock();
      }
    });
  }
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(counter, 2000);

  ASSERT_TRUE(mutex->lock());
  std::thread([&] { EXPECT_FALSE(mutex->lock(50)); }).join();
  mutex->unlock();
}

TEST(NamedMutex, NamespacesMapToLockFilesThatStayInTheirDirectory) {
  const std::string locks = kivtest::home() + "/run/locks";
  ASSERT_TRUE(NamedMutex::open(L"Global\\UNITSDB"));
  EXPECT_TRUE(std::filesystem::exists(locks + "/global/UNITSDB"));
  for (const wchar_t* hostile : {L"Global\\..", L"Global\\../../escape", L"a/b", L"..\\x"}) {
    auto mutex = NamedMutex::open(hostile);
    ASSERT_TRUE(mutex) << "rejected a usable name";
    ASSERT_TRUE(mutex->lock(0));
    mutex->unlock();
  }
  // Every file made lives directly in a lock directory.
  EXPECT_FALSE(std::filesystem::exists(kivtest::home() + "/escape"));
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kivtest::home())) {
    if (entry.is_regular_file() && entry.path().parent_path().parent_path() != locks) {
      const std::string name = entry.path().filename();
      EXPECT_TRUE(name.starts_with("registry.db") || name.starts_with("config.db") ||
                  entry.path().string().find("/log/") != std::string::npos)
          << entry.path();
    }
  }
  EXPECT_FALSE(NamedMutex::open(L"Global\\"));
  EXPECT_FALSE(NamedMutex::open(L""));
}

// A helper process that holds the mutex until it is killed.
class Holder {
 public:
  explicit Holder(const char* name) {
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string program = kivtest::binDir() + "/platform_helper";
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      execl(program.c_str(), program.c_str(), "lock", name, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    output_ = fds[0];
  }
  ~Holder() {
    if (pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    if (output_ >= 0) close(output_);
  }
  // True once the holder reported that it has the lock.
  bool holding() {
    pollfd polled{output_, POLLIN, 0};
    if (poll(&polled, 1, 20000) != 1) return false;
    char text[16] = {};
    return read(output_, text, sizeof text - 1) > 0 && std::string(text) == "locked\n";
  }
  void killAndReap() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
};

TEST(NamedMutex, HeldByAnotherProcessUntilItIsKilled) {
  Holder holder("Global\\Shared");
  ASSERT_TRUE(holder.holding());
  auto mutex = NamedMutex::open(L"Global\\Shared");
  ASSERT_TRUE(mutex);
  EXPECT_FALSE(mutex->lock(0));
  EXPECT_FALSE(mutex->lock(30));
  std::atomic<bool> taken{false};
  std::thread waiter([&] { taken = mutex->lock(kInfinite); });
  holder.killAndReap();
  waiter.join();
  EXPECT_TRUE(taken);
  mutex->unlock();
}

// Whether a process of its own can take the mutex at once.
bool takenByOtherProcess(const char* name) {
  return kivtest::run(kivtest::binDir() + "/platform_helper try '" + name + "'") == 0;
}

TEST(NamedMutex, AbandonedByAnEndedThreadOrAKilledProcess) {
  auto mutex = NamedMutex::open(L"Global\\Abandoned");
  ASSERT_TRUE(mutex);
  const auto endHolding = [&] { std::thread([&] { ASSERT_EQ(mutex->acquire(kInfinite), kWaitObject0); }).join(); };
  endHolding();
  EXPECT_EQ(mutex->acquire(20000), kWaitAbandoned);
  EXPECT_FALSE(takenByOtherThread(*mutex));
  mutex->unlock();
  EXPECT_EQ(mutex->acquire(0), kWaitObject0) << "given up properly: not abandoned again";
  mutex->unlock();

  endHolding();
  EXPECT_TRUE(takenByOtherProcess("Global\\Abandoned")) << "other processes may take it too";

  Holder holder("Global\\Abandoned");
  ASSERT_TRUE(holder.holding());
  holder.killAndReap();
  EXPECT_EQ(mutex->acquire(20000), kWaitAbandoned);
  mutex->unlock();
}

// A child forked while the parent holds the mutex shares none of the parent's hold: it
// cannot take the mutex or give it up for the parent, it waits like any other process,
// and once it is killed holding the mutex a third process gets it although the parent
// still has the mutex open.
TEST(NamedMutex, ForkedChildHasItsOwnHold) {
  auto mutex = NamedMutex::open(L"Global\\Forked");
  ASSERT_TRUE(mutex);
  ASSERT_TRUE(mutex->lock());
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    char step = mutex->acquire(0) == kWaitTimeout ? 'w' : 'x';  // the parent holds it
    mutex->unlock();                                             // not the child's to give
    step = step == 'w' && mutex->acquire(kInfinite) == kWaitObject0 ? 'h' : 'x';
    (void)!write(report[1], &step, 1);
    while (true) pause();
  }
  ASSERT_GT(child, 0);
  close(report[1]);
  EXPECT_FALSE(takenByOtherProcess("Global\\Forked")) << "the parent still holds it";
  mutex->unlock();
  char step = 0;
  EXPECT_EQ(read(report[0], &step, 1), 1);
  close(report[0]);
  EXPECT_EQ(step, 'h') << "the child waited for the parent and then held it";
  EXPECT_FALSE(takenByOtherProcess("Global\\Forked")) << "the child holds it";
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(takenByOtherProcess("Global\\Forked"));
  EXPECT_EQ(mutex->acquire(0), kWaitObject0) << "the other process gave it up properly";
  mutex->unlock();
}

TEST(NamedMutex, SessionNamesAreSeparateFromGlobalNames) {
  Holder holder("Global\\Split");
  ASSERT_TRUE(holder.holding());
  auto session = NamedMutex::open(L"Split");
  ASSERT_TRUE(session);
  EXPECT_TRUE(session->lock(0));
  session->unlock();
}

}  // namespace
}  // namespace kiv::platform
