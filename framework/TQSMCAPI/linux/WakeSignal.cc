// The wake signal as an eventfd.
#include "framework/TQSMCAPI/WakeSignal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace kiv::bus {

WakeSignal::WakeSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeSignal::~WakeSignal() {
  if (fd_ >= 0) ::close(fd_);
}

bool WakeSignal::valid() const { return fd_ >= 0; }

void WakeSignal::raise() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t written = ::write(fd_, &one, sizeof one);
}

void WakeSignal::clear() {
  uint64_t count = 0;
  [[maybe_unused]] ssize_t got = ::read(fd_, &count, sizeof count);
}

}  // namespace kiv::bus
