// Hidden child processes started without a shell, watched and reaped through pidfds.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/command_line.h"
#include "platform/linux/output_pipes.h"
#include "platform/utf8.h"

extern char** environ;

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace kiv::platform {
namespace {

int pidfdOpen(int pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

// Collects the child's exit status if it has ended; false when it was not reaped here.
// Waiting by pidfd can never reap a different process that reused the pid.
bool reapIfEnded(int pidfd, siginfo_t* info) {
  *info = siginfo_t{};
  int result;
  while ((result = waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), info,
                          WEXITED | WNOHANG)) < 0 &&
         errno == EINTR) {
  }
  return result == 0 && info->si_pid != 0;
}

// A child still running when its Process goes away is reaped by a thread of its own once
// it ends, so no zombie is left behind and the caller is not held up.
void reapLater(int pidfd) {
  std::thread([pidfd] {
    siginfo_t info{};
    while (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info, WEXITED) < 0 &&
           errno == EINTR) {
    }
    close(pidfd);
  }).detach();
}

bool stillRunning(int pidfd) {
  pollfd polled{pidfd, POLLIN, 0};
  return poll(&polled, 1, 0) == 0;
}

// Spawn settings: standard streams on /dev/null (output and error on `pipes` when given),
// own process group, default signal dispositions and an empty mask whatever the calling
// thread had.
class SpawnSetup {
 public:
  explicit SpawnSetup(const OutputPipes* pipes) {
    ok_ = posix_spawn_file_actions_init(&actions_) == 0 && posix_spawnattr_init(&attr_) == 0;
    if (!ok_) return;
    for (int fd = 0; fd <= (pipes != nullptr ? 0 : 2); ++fd) {
      ok_ = ok_ && posix_spawn_file_actions_addopen(&actions_, fd, "/dev/null",
                                                    fd == 0 ? O_RDONLY : O_WRONLY, 0) == 0;
    }
    ok_ = ok_ && (pipes == nullptr || pipes->addTo(&actions_));
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    ok_ = ok_ && posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                      POSIX_SPAWN_SETSIGDEF) == 0 &&
          posix_spawnattr_setpgroup(&attr_, 0) == 0 &&
          posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
          posix_spawnattr_setsigdefault(&attr_, &all) == 0;
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool ok() const { return ok_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attr() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attr_{};
  bool ok_ = false;
};

// A null-terminated array of the strings' texts, for the exec family.
std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& text : strings) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

// The host's environment with `overrides` put over it. An override that is no "NAME=value"
// (no '=', or nothing before it) names no variable: it is left out, and replaces nothing.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& overrides) {
  std::vector<const std::string*> kept;
  for (const auto& override : overrides) {
    const std::size_t equals = override.find('=');
    if (equals != std::string::npos && equals > 0) kept.push_back(&override);
  }
  std::vector<std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    bool replaced = false;
    for (const std::string* override : kept) {
      replaced = replaced || variable.starts_with(std::string_view(*override).substr(0, override->find('=') + 1));
    }
    if (!replaced) merged.emplace_back(variable);
  }
  for (const std::string* override : kept) merged.push_back(*override);
  return merged;
}

}  // namespace

std::unique_ptr<Process> Process::startHidden(std::wstring_view commandLine) {
  const std::string line = kiv::utf::narrow(commandLine);
  const CommandWords command = splitCommandLine(line);
  if (line.find('\0') != std::string::npos || !command.needsShell.empty() || command.words.empty()) {
    errno = EINVAL;
    return nullptr;
  }
  const std::string program = findProgram(command.words[0], programSearchPath());
  if (program.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  return startHidden(program, command.words, {});
}

std::unique_ptr<Process> Process::startHidden(const std::string& program, const std::vector<std::string>& arguments,
                                              const std::vector<std::string>& environment) {
  return spawn(program, arguments, environment, nullptr);
}

std::unique_ptr<Process> Process::startReading(const std::string& program, const std::vector<std::string>& arguments,
                                               const std::vector<std::string>& environment) {
  auto pipes = OutputPipes::open();
  if (!pipes) return nullptr;
  return spawn(program, arguments, environment, std::move(pipes));
}

std::unique_ptr<Process> Process::spawn(const std::string& program, const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& environment,
                                        std::unique_ptr<OutputPipes> pipes) {
  SpawnSetup setup(pipes.get());
  if (!setup.ok()) {
    errno = ENOMEM;
    return nullptr;
  }
  std::vector<std::string> words = arguments;
  std::vector<char*> argv = pointers(words);
  std::vector<std::string> variables = mergedEnvironment(environment);
  std::vector<char*> envp = pointers(variables);
  pid_t pid = 0;
  if (const int error = posix_spawn(&pid, program.c_str(), setup.actions(), setup.attr(), argv.data(), envp.data())) {
    errno = error;
    return nullptr;
  }
  if (pipes) pipes->closeChildEnds();
  // The child stays a zombie until reaped, so its pidfd can be opened even if it already ended.
  const int pidfd = pidfdOpen(pid);
  if (pidfd >= 0) return std::unique_ptr<Process>(new Process(pid, pidfd, true, std::move(pipes)));
  // Someone else reaped it already (SIGCHLD ignored): it has ended, so hand out a handle
  // that is signalled for good.
  const int ended = eventfd(1, EFD_CLOEXEC | EFD_NONBLOCK);
  if (ended < 0) return nullptr;
  return std::unique_ptr<Process>(new Process(pid, ended, false, std::move(pipes)));
}

std::unique_ptr<Process> Process::open(int pid) {
  if (pid <= 0) {
    errno = ESRCH;
    return nullptr;
  }
  const int pidfd = pidfdOpen(pid);
  if (pidfd < 0) return nullptr;
  return std::unique_ptr<Process>(new Process(pid, pidfd, false));
}

Process::Process(int pid, int pidfd, bool child, std::unique_ptr<OutputPipes> pipes)
    : pid_(pid), pidfd_(pidfd), child_(child), pipes_(std::move(pipes)) {}

Process::~Process() {
  if (pidfd_ < 0) return;
  if (child_ && stillRunning(pidfd_)) {
    reapLater(pidfd_);
    return;
  }
  if (child_) {
    siginfo_t info;
    reapIfEnded(pidfd_, &info);
  }
  close(pidfd_);
}

void Process::noteEnd() {
  siginfo_t info;
  if (!child_ || !reapIfEnded(pidfd_, &info)) return;
  if (info.si_code == CLD_EXITED) {
    exitCode_ = info.si_status;
  } else {
    exitSignal_ = info.si_status;
  }
}

uint32_t Process::wait(uint32_t timeoutMs) {
  const uint32_t result = waitOne(handle(), timeoutMs);
  if (result == kWaitObject0) noteEnd();
  return result;
}

uint32_t Process::waitReading(uint32_t timeoutMs, const OutputReceiver& receiver) {
  const uint32_t result = waitReadingUnreaped(timeoutMs, receiver);
  if (result == kWaitObject0) noteEnd();
  return result;
}

// A pidfd is readable once its process has exited, reaped or not.
uint32_t Process::waitReadingUnreaped(uint32_t timeoutMs, const OutputReceiver& receiver) {
  if (!pipes_) return waitOne(handle(), timeoutMs);
  return pipes_->readUntilEnd(pidfd_, timeoutMs, receiver);
}

}  // namespace kiv::platform
