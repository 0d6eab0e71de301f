// Named mutexes from TQOSThreadControl are system-wide: a mutex held by another process
// keeps this one out, and the holder's death, or the end of the owning thread, abandons it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "TQOSServices.h"
#include "support/kiv_test.h"
#include "support/run_self.h"
#include "tqNotify/framework/TQptr.h"

namespace {

// The helper process taking the mutex; killed at the latest when the test ends.
class Holder {
 public:
  explicit Holder(const char* name)
      : output_(openPipe(kivtest::programBeside("components_mutex_holder") + " " + kivtest::quoteArgument(name))) {
    pid_ = std::atoi(nextLine().c_str());
  }
  ~Holder() {
    kill();
    if (output_ != nullptr) closePipe(output_);
  }

  // The helper's next line, waiting for it; empty once it has ended.
  std::string nextLine() {
    char line[64] = {};
    if (output_ == nullptr || std::fgets(line, sizeof line, output_) == nullptr) return {};
    std::string text = line;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }

  void kill() {
    if (pid_ > 0) kivtest::killProcess(pid_);
    pid_ = 0;
  }

 private:
#ifdef _WIN32
  static FILE* openPipe(const std::string& command) { return _popen(kivtest::commandLine(command).c_str(), "r"); }
  static void closePipe(FILE* pipe) { _pclose(pipe); }
#else
  static FILE* openPipe(const std::string& command) { return popen(("exec " + command).c_str(), "r"); }
  static void closePipe(FILE* pipe) { pclose(pipe); }
#endif
  FILE* output_;
  int pid_ = 0;
};

class ConcurrencyNamedMutex : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(control_.CreateInstance(L"tqOSServices", "TQOSThreadControl"));
    ASSERT_TRUE(control_->createMutex(L"Global\\UNITSDB", 5, mutex_.fill()));
  }

  TQptr<TQOSThreadControl> control_;
  TQptr<ITQOSLock> mutex_;
};

}  // namespace

TEST_F(ConcurrencyNamedMutex, HeldByAnotherProcessUntilItDies) {
  Holder holder("Global\\UNITSDB");
  ASSERT_EQ(holder.nextLine(), "held");
  EXPECT_EQ(mutex_->tryLock(50), static_cast<int>(kiv::platform::kWaitTimeout));
  holder.kill();
  ASSERT_EQ(mutex_->tryLock(20000), static_cast<int>(kiv::platform::kWaitAbandoned));
  EXPECT_EQ(mutex_->unlock(), 0);
  ASSERT_EQ(mutex_->tryLock(0), 0) << "given up properly: not abandoned again";
  EXPECT_EQ(mutex_->unlock(), 0);
}

TEST_F(ConcurrencyNamedMutex, AbandonedWhenTheOwningThreadEnds) {
  std::thread([this] { ASSERT_EQ(mutex_->lock(), 0); }).join();
  ASSERT_EQ(mutex_->tryLock(20000), static_cast<int>(kiv::platform::kWaitAbandoned));
  Holder holder("Global\\UNITSDB");
  ASSERT_EQ(holder.nextLine(), "busy");
  EXPECT_EQ(mutex_->unlock(), 0);
  EXPECT_EQ(holder.nextLine(), "held");
  holder.kill();
  ASSERT_EQ(mutex_->tryLock(20000), static_cast<int>(kiv::platform::kWaitAbandoned));
  EXPECT_EQ(mutex_->unlock(), 0);
}

// lock answers 0 whenever the caller holds the mutex afterwards, abandoned or not: a caller
// that reads anything else as "not held" would never give it back. The takeover is traced.
TEST_F(ConcurrencyNamedMutex, LockTakenOverFromADeadHolderAnswersHeld) {
  Holder holder("Global\\UNITSDB");
  ASSERT_EQ(holder.nextLine(), "held");
  holder.kill();
  ASSERT_EQ(mutex_->lock(), 0);
  EXPECT_TRUE(kivtest::traced("abandoned")) << "the takeover is not silent";
  Holder other("Global\\UNITSDB");
  ASSERT_EQ(other.nextLine(), "busy") << "held by this process after the takeover";
  EXPECT_EQ(mutex_->unlock(), 0);
  EXPECT_EQ(other.nextLine(), "held");
}

TEST_F(ConcurrencyNamedMutex, KeepsOtherProcessesOutUntilUnlocked) {
  ASSERT_TRUE(lockObtained(mutex_->lock()));
  Holder holder("Global\\UNITSDB");
  ASSERT_EQ(holder.nextLine(), "busy");
  EXPECT_EQ(mutex_->unlock(), 0);
  EXPECT_EQ(holder.nextLine(), "held");
}
