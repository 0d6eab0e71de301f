// Named mutexes on flock'd lock files. One state per lock file per process carries the
// Windows ownership rules (owner thread, recursion) for every object opened on that name;
// the flock carries exclusion between processes and is dropped by the kernel on death.
#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/linux/lock_path.h"

namespace kiv::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Ownership of one lock file within this process.
struct LockState {
  explicit LockState(int descriptor) : fd(descriptor) {}
  ~LockState() { close(fd); }
  LockState(const LockState&) = delete;
  LockState& operator=(const LockState&) = delete;

  const int fd;
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

class FileMutex final : public NamedMutex {
 public:
  explicit FileMutex(std::shared_ptr<LockState> state) : state_(std::move(state)) {}

  bool lock(uint32_t timeoutMs) override {
    LockState& s = *state_;
    const auto me = std::this_thread::get_id();
    const bool infinite = timeoutMs == kInfinite;
    const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
    std::unique_lock held(s.guard);
    if (s.owner == me) {
      ++s.depth;
      return true;
    }
    const auto free = [&s] { return s.owner == std::thread::id(); };
    if (infinite) {
      s.released.wait(held, free);
    } else if (!s.released.wait_until(held, deadline, free)) {
      errno = ETIMEDOUT;
      return false;
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
      return false;
    }
    s.depth = 1;
    return true;
  }

  void unlock() override {
    LockState& s = *state_;
    std::lock_guard held(s.guard);
    // Like ReleaseMutex, a thread that does not own the mutex cannot release it.
    if (s.owner != std::this_thread::get_id() || s.depth == 0) return;
    if (--s.depth > 0) return;
    flock(s.fd, LOCK_UN);
    s.owner = std::thread::id();
    s.released.notify_all();
  }

 private:
  std::shared_ptr<LockState> state_;
};

// The process-wide table of lock states by lock-file path; never destroyed, so mutexes
// can still be opened from destructors that run while the process exits.
std::shared_ptr<LockState> stateFor(const std::string& path) {
  static auto* tableGuard = new std::mutex;
  static auto& table = *new std::map<std::string, std::weak_ptr<LockState>>;
  std::lock_guard held(*tableGuard);
  std::erase_if(table, [](const auto& entry) { return entry.second.expired(); });
  if (auto existing = table[path].lock()) return existing;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return nullptr;
  auto state = std::make_shared<LockState>(fd);
  table[path] = state;
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
