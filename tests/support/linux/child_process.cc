// Children on Linux: posix_spawn with the standard streams redirected, reaped with waitpid.
#include "support/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/kiv_test.h"

extern char** environ;

namespace kivtest {

OutputPipe::OutputPipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  readEnd_ = fds[0];
  writeEnd_ = fds[1];
}

bool OutputPipe::readByte(char* byte) {
  return readEnd_ != -1 && read(static_cast<int>(readEnd_), byte, 1) == 1;
}

void OutputPipe::closeWriteEnd() {
  if (writeEnd_ != -1) close(static_cast<int>(writeEnd_));
  writeEnd_ = -1;
}

void OutputPipe::closeReadEnd() {
  if (readEnd_ != -1) close(static_cast<int>(readEnd_));
  readEnd_ = -1;
}

struct ChildProcess::State {
  pid_t pid = -1;
  int status = 0;
  bool exited = false;
};

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outPath,
                           const std::string& errPath, OutputPipe* stdoutPipe)
    : state_(std::make_unique<State>()) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdoutPipe != nullptr) {
    posix_spawn_file_actions_adddup2(&actions, static_cast<int>(stdoutPipe->writeEnd_), 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  if (posix_spawn(&state_->pid, args[0], &actions, nullptr, args.data(), environ) != 0) state_->pid = -1;
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  if (state_->pid > 0 && !state_->exited) {
    kill(state_->pid, SIGKILL);
    waitpid(state_->pid, nullptr, 0);
  }
}

bool ChildProcess::started() const { return state_->pid > 0; }
int ChildProcess::pid() const { return state_->pid; }
void ChildProcess::requestStop() { signal(SIGTERM); }

// Only a child that started and is not yet reaped: kill(-1) would signal every process the
// suite may signal (all of them, as root), and a reaped child's number may be another's.
void ChildProcess::signal(int number) {
  if (started() && !state_->exited) kill(state_->pid, number);
}

bool ChildProcess::stop() {
  if (!started()) return false;
  signal(SIGSTOP);
  int status = 0;
  return waitpid(state_->pid, &status, WUNTRACED) == state_->pid && WIFSTOPPED(status);
}

int ChildProcess::exitCode(std::chrono::milliseconds timeout) {
  const bool ended = waitFor([&] {
    if (!state_->exited) state_->exited = waitpid(state_->pid, &state_->status, WNOHANG) == state_->pid;
    return state_->exited;
  }, timeout);
  if (!ended || !WIFEXITED(state_->status)) return -1;
  return WEXITSTATUS(state_->status);
}

}  // namespace kivtest
