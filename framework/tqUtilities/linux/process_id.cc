// The process id, kept current across fork without a system call on every use.
#include "framework/tqUtilities/process_id.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace kiv {
namespace {

std::atomic<pid_t> currentPid{0};

}  // namespace

long processId() {
  static const bool registered = [] {
    currentPid = getpid();
    pthread_atfork(nullptr, nullptr, [] { currentPid = getpid(); });
    return true;
  }();
  (void)registered;
  return currentPid.load(std::memory_order_relaxed);
}

}  // namespace kiv
