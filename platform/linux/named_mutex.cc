// Named mutexes on flock'd lock files. One state per lock file per process carries the
// Windows ownership rules (owner thread, recursion, abandonment) for every object opened on
// that name; the flock carries exclusion between processes and is dropped by the kernel on
// death. The file's first byte says whether an owner holds it ('1') or gave it up ('0'), so
// whoever acquires it after an owner died or its thread ended learns it was abandoned.
#include "platform/named_mutex.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "platform/linux/lock_path.h"
#include "platform/thread_exit.h"

namespace kiv::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kHeld = '1';
constexpr char kGivenUp = '0';

int openLockFile(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

// Ownership of one lock file within this process.
class LockState final : public ThreadOwned {
 public:
  LockState(std::string lockPath, int descriptor) : path(std::move(lockPath)), fd(descriptor) {}
  ~LockState() {
    forgetThreadEnds(this);
    if (fd >= 0) close(fd);
  }
  LockState(const LockState&) = delete;
  LockState& operator=(const LockState&) = delete;

  // The owning thread ended without unlocking: other processes may take the file now, and
  // its marker still says held, which tells the next acquirer it was abandoned.
  void threadEnded(std::thread::id thread) override {
    std::lock_guard held(guard);
    if (owner != thread || depth == 0) return;
    flock(fd, LOCK_UN);
    owner = std::thread::id();
    depth = 0;
    released.notify_all();
  }

  // In a child after fork: a lock-file description of its own, so that parent and child
  // exclude each other, and no ownership (the child's threads hold nothing). The guard and
  // condition may have been in use by threads that do not exist in the child.
  void startOverInChild() {
    if (fd >= 0) close(fd);  // the parent's lock, if it holds one, stays with the parent
    fd = openLockFile(path);
    new (&guard) std::mutex;
    new (&released) std::condition_variable;
    owner = std::thread::id();
    depth = 0;
  }

  const std::string path;
  int fd;
  std::mutex guard;
  std::condition_variable released;
  std::thread::id owner;  // default id: no thread of this process holds or claims it
  unsigned depth = 0;
};

// Takes the flock, giving up at the deadline. flock has no time-out, so a bounded wait
// retries without blocking, backing off up to a few milliseconds between attempts.
bool lockFile(int fd, bool infinite, Clock::time_point deadline) {
  if (infinite) {
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }
  auto pause = std::chrono::microseconds(200);
  while (true) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    const auto now = Clock::now();
    if (now >= deadline) {
      errno = ETIMEDOUT;
      return false;
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::microseconds(10000));
  }
}

// With the flock held: whether the last owner left without giving it up, and marks it held.
bool takeMarker(int fd) {
  char marker = kGivenUp;
  const bool abandoned = pread(fd, &marker, 1, 0) == 1 && marker == kHeld;
  const char held = kHeld;
  (void)!pwrite(fd, &held, 1, 0);
  return abandoned;
}

void giveUpMarker(int fd) {
  const char givenUp = kGivenUp;
  (void)!pwrite(fd, &givenUp, 1, 0);
}

class FileMutex final : public NamedMutex {
 public:
  explicit FileMutex(std::shared_ptr<LockState> state) : state_(std::move(state)) {}

  bool lock(uint32_t timeoutMs) override {
    const uint32_t result = acquire(timeoutMs);
    return result == kWaitObject0 || result == kWaitAbandoned;
  }

  uint32_t acquire(uint32_t timeoutMs) override {
    LockState& s = *state_;
    const auto me = std::this_thread::get_id();
    const bool infinite = timeoutMs == kInfinite;
    const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
    std::unique_lock held(s.guard);
    if (s.owner == me) {
      ++s.depth;
      return kWaitObject0;
    }
    const auto free = [&s] { return s.owner == std::thread::id(); };
    if (infinite) {
      s.released.wait(held, free);
    } else if (!s.released.wait_until(held, deadline, free)) {
      errno = ETIMEDOUT;
      return kWaitTimeout;
    }
    // Claim it within the process, then contend with other processes without holding the
    // guard, so other threads can still time out.
    s.owner = me;
    held.unlock();
    const bool taken = lockFile(s.fd, infinite, deadline);
    const int cause = errno;
    held.lock();
    if (!taken) {
      s.owner = std::thread::id();
      s.released.notify_all();
      errno = cause;
      return cause == ETIMEDOUT ? kWaitTimeout : kWaitFailed;
    }
    const bool abandoned = takeMarker(s.fd);
    s.depth = 1;
    held.unlock();
    callWhenThreadEnds(&s);
    return abandoned ? kWaitAbandoned : kWaitObject0;
  }

  void unlock() override {
    LockState& s = *state_;
    std::lock_guard held(s.guard);
    // Like ReleaseMutex, a thread that does not own the mutex cannot release it.
    if (s.owner != std::this_thread::get_id() || s.depth == 0) return;
    if (--s.depth > 0) return;
    giveUpMarker(s.fd);
    flock(s.fd, LOCK_UN);
    s.owner = std::thread::id();
    s.released.notify_all();
  }

 private:
  std::shared_ptr<LockState> state_;
};

// The process-wide table of lock states by lock-file path; never destroyed, so mutexes
// can still be opened from destructors that run while the process exits.
struct StateTable {
  std::mutex guard;
  std::map<std::string, std::weak_ptr<LockState>> states;

  // A forked child inherits the parent's lock-file descriptions; every state still in use
  // starts over with its own. The guard is held across the fork so the table is whole.
  void childStartsOver() {
    for (auto& [path, weak] : states) {
      if (auto state = weak.lock()) state->startOverInChild();
    }
  }
};

StateTable& table() {
  static StateTable* instance = [] {
    auto* made = new StateTable;
    pthread_atfork([] { table().guard.lock(); }, [] { table().guard.unlock(); },
                   [] {
                     table().childStartsOver();
                     table().guard.unlock();
                   });
    return made;
  }();
  return *instance;
}

std::shared_ptr<LockState> stateFor(const std::string& path) {
  StateTable& all = table();
  std::lock_guard held(all.guard);
  std::erase_if(all.states, [](const auto& entry) { return entry.second.expired(); });
  if (auto existing = all.states[path].lock()) return existing;
  const int fd = openLockFile(path);
  if (fd < 0) return nullptr;
  auto state = std::make_shared<LockState>(path, fd);
  all.states[path] = state;
  return state;
}

}  // namespace

std::unique_ptr<NamedMutex> NamedMutex::open(std::wstring_view name) {
  const std::string path = detail::lockFilePath(name);
  if (path.empty()) return nullptr;
  auto state = stateFor(path);
  if (!state) return nullptr;
  return std::make_unique<FileMutex>(std::move(state));
}

}  // namespace kiv::platform
