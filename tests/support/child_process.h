// A program that a test runs beside itself (the kiv tool, usually), with its standard output
// and error in files or on a pipe. A child that is still running when the test ends is
// killed and reaped, so no test leaves a process behind.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/kiv_test.h"

extern char** environ;

namespace kivtest {

class ChildProcess {
 public:
  // Standard output goes to `stdoutFd` when it is given, else to the file `outPath`.
  ChildProcess(const std::vector<std::string>& argv, const std::string& outPath,
               const std::string& errPath, int stdoutFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ChildProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  void signal(int number) { kill(pid_, number); }

  // Stops the child (SIGSTOP) and answers once it is stopped.
  bool stop() {
    kill(pid_, SIGSTOP);
    int status = 0;
    return waitpid(pid_, &status, WUNTRACED) == pid_ && WIFSTOPPED(status);
  }

  // Waits for the exit; the exit code, or -1 when it did not end in time or ended by a signal.
  int exitCode(std::chrono::milliseconds timeout = std::chrono::seconds(90)) {
    const bool ended = waitFor([&] {
      if (!exited_) exited_ = waitpid(pid_, &status_, WNOHANG) == pid_;
      return exited_;
    }, timeout);
    if (!ended || !WIFEXITED(status_)) return -1;
    return WEXITSTATUS(status_);
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool exited_ = false;
};

}  // namespace kivtest
