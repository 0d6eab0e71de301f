// Output pipes of a started process, read with poll beside its pidfd.
#include "platform/linux/output_pipes.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>

namespace kiv::platform {
namespace {

constexpr std::size_t kChunk = 65536;
// What is read from each pipe once the process has ended: a process it started that keeps
// writing must not keep the host reading for ever.
constexpr std::size_t kDrainLimit = 1 << 20;

// Reads one chunk; false once the pipe has nothing more to give now (empty) or ever (closed,
// in which case `fd` is closed too).
bool readChunk(UniqueFd& fd, OutputStream stream, const OutputReceiver& receiver) {
  std::array<char, kChunk> buffer;
  ssize_t got;
  while ((got = ::read(fd.get(), buffer.data(), buffer.size())) < 0 && errno == EINTR) {
  }
  if (got > 0) {
    if (receiver) receiver(stream, std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    return true;
  }
  if (got < 0 && errno == EAGAIN) return false;
  fd.reset();
  return false;
}

OutputStream streamOf(int index) { return index == 0 ? OutputStream::kStandardOutput : OutputStream::kStandardError; }

}  // namespace

std::unique_ptr<OutputPipes> OutputPipes::open() {
  auto pipes = std::make_unique<OutputPipes>();
  for (int i = 0; i < 2; ++i) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return nullptr;
    pipes->host[i].reset(ends[0]);
    pipes->child[i].reset(ends[1]);
    // Only our end is non-blocking: the child writes as it would to any pipe.
    if (::fcntl(ends[0], F_SETFL, O_NONBLOCK) != 0) return nullptr;
  }
  return pipes;
}

bool OutputPipes::addTo(posix_spawn_file_actions_t* actions) const {
  return posix_spawn_file_actions_adddup2(actions, child[0].get(), 1) == 0 &&
         posix_spawn_file_actions_adddup2(actions, child[1].get(), 2) == 0;
}

void OutputPipes::closeChildEnds() {
  child[0].reset();
  child[1].reset();
}

uint32_t OutputPipes::readUntilEnd(int pidfd, uint32_t timeoutMs, const OutputReceiver& receiver) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs != kInfinite) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    pollfd polled[3] = {{pidfd, POLLIN, 0}, {host[0].get(), POLLIN, 0}, {host[1].get(), POLLIN, 0}};
    const int ready = ::poll(polled, 3, wait);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return kWaitFailed;
    if (ready == 0) return kWaitTimeout;
    for (int i = 0; i < 2; ++i) {
      if (polled[i + 1].revents != 0) readChunk(host[i], streamOf(i), receiver);
    }
    if (polled[0].revents != 0) {
      drain(receiver);
      return kWaitObject0;
    }
  }
}

void OutputPipes::drain(const OutputReceiver& receiver) {
  for (int i = 0; i < 2; ++i) {
    std::size_t taken = 0;
    while (host[i] && taken < kDrainLimit && readChunk(host[i], streamOf(i), receiver)) taken += kChunk;
  }
}

}  // namespace kiv::platform
