// Hidden processes: a program started directly from its command line, never through a
// shell, with standard streams on /dev/null, in its own process group, waitable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event.h"

namespace kiv::platform {

class Process {
 public:
  // Null when the process could not be started (the system's last error set). On Linux the
  // line is split into words as the shell would and the program is looked for on PATH; a
  // line that needs a shell to mean anything is not started (EINVAL).
  static std::unique_ptr<Process> startHidden(std::wstring_view commandLine);
#ifndef _WIN32
  // Starts `program` with `arguments` (its own word first) and the host's environment with
  // `environment` ("NAME=value" each) put over it.
  static std::unique_ptr<Process> startHidden(const std::string& program, const std::vector<std::string>& arguments,
                                              const std::vector<std::string>& environment);
#endif
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
