// Hidden processes: a command line run through /bin/sh -c with standard streams on
// /dev/null, in its own process group, waitable through its pidfd.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/event.h"

namespace kiv::platform {

class Process {
 public:
  // Null when the process could not be started (errno set).
  static std::unique_ptr<Process> startHidden(std::wstring_view commandLine);
  // Watches a running process by pid; null when it does not exist.
  static std::unique_ptr<Process> open(int pid);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  int pid() const { return pid_; }
  // Signalled once the process has ended.
  WaitHandle handle() const { return {pidfd_, false}; }
  uint32_t wait(uint32_t timeoutMs);
  // The exit code of a process started here, once a wait has seen it end; -1 before that,
  // for a process only watched, or one ended by a signal.
  int exitCode() const { return exitCode_; }

 private:
  Process(int pid, int pidfd, bool child) : pid_(pid), pidfd_(pidfd), child_(child) {}
  int pid_;
  int pidfd_;
  bool child_;  // ours to reap
  int exitCode_ = -1;
};

}  // namespace kiv::platform
