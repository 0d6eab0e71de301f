// Named mutexes from TQOSThreadControl are system-wide: a mutex held by another process
// keeps this one out, and the holder's death frees it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "TQOSServices.h"
#include "support/kiv_test.h"
#include "tqNotify/framework/TQptr.h"

extern char** environ;

namespace {

// The helper process holding a mutex; killed when the test ends.
class Holder {
 public:
  explicit Holder(const std::string& name) {
    int out[2];
    int in[2];
    if (pipe(out) != 0 || pipe(in) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    std::string program = KIV_MUTEX_HOLDER;
    char* argv[] = {program.data(), const_cast<char*>(name.c_str()), nullptr};
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(in[0]);
    output_ = out[0];
    input_ = in[1];
  }
  ~Holder() {
    kill();
    if (output_ >= 0) close(output_);
    if (input_ >= 0) close(input_);
  }

  // The helper's next line ("busy" or "held"), waiting for it; empty when it ended.
  std::string nextLine() {
    std::string said;
    char c;
    while (read(output_, &c, 1) == 1 && c != '\n') said += c;
    return said;
  }

  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  int input_ = -1;
};

}  // namespace

TEST(ConcurrencyNamedMutex, HeldByAnotherProcessUntilItDies) {
  TQptr<TQOSThreadControl> control;
  ASSERT_TRUE(control.CreateInstance(L"tqOSServices", "TQOSThreadControl"));
  TQptr<ITQOSLock> mutex;
  ASSERT_TRUE(control->createMutex(L"Global\\UNITSDB", 5, mutex.fill()));

  Holder holder("Global\\UNITSDB");
  ASSERT_EQ(holder.nextLine(), "held");
  EXPECT_EQ(mutex->tryLock(50), static_cast<int>(kiv::platform::kWaitTimeout));

  holder.kill();
  ASSERT_EQ(mutex->tryLock(20000), 0);
  EXPECT_EQ(mutex->unlock(), 0);
}

TEST(ConcurrencyNamedMutex, TheHolderKeepsItFromOtherProcesses) {
  TQptr<TQOSThreadControl> control;
  ASSERT_TRUE(control.CreateInstance(L"tqOSServices", "TQOSThreadControl"));
  TQptr<ITQOSLock> mutex;
  ASSERT_TRUE(control->createMutex(L"Global\\UNITSDB", 5, mutex.fill()));
  ASSERT_EQ(mutex->lock(), 0);
  // The helper finds it taken while this process holds it, and gets it once released.
  Holder holder("Global\\UNITSDB");
  ASSERT_EQ(holder.nextLine(), "busy");
  EXPECT_EQ(mutex->unlock(), 0);
  EXPECT_EQ(holder.nextLine(), "held");
}
