// Hidden processes: a program started directly from its command line, never through a
// shell, with standard streams on /dev/null (or, on request, its output on pipes read
// while it runs), in its own process group, waitable.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event.h"

namespace kiv::platform {

enum class OutputStream { kStandardOutput, kStandardError };
// Receives what a process writes, in pieces as they arrive (not split into lines).
using OutputReceiver = std::function<void(OutputStream stream, std::string_view bytes)>;

// The pipes of a process whose output is read; defined by each system's backend.
struct OutputPipes;

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
  // As above, with standard output and standard error each on a pipe for waitReading.
  static std::unique_ptr<Process> startReading(const std::string& program, const std::vector<std::string>& arguments,
                                               const std::vector<std::string>& environment);
#else
  // As startHidden, with standard output and standard error each on a pipe for
  // waitReading, the process in a job of its own that endTree ends as a whole, and the
  // host's environment with `environment` ("NAME=value" each) put over it in the process's
  // environment only.
  static std::unique_ptr<Process> startReading(std::wstring_view commandLine,
                                               const std::vector<std::wstring>& environment);
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
  // Waits as `wait` does while handing what a process from startReading writes to
  // `receiver`. Once the process has ended only what is already in its pipes is read, so
  // a process it started that keeps them open cannot hold the caller.
  uint32_t waitReading(uint32_t timeoutMs, const OutputReceiver& receiver);
#ifndef _WIN32
  // As waitReading, but a process seen to end is left a zombie: its pid, and the id of the
  // process group it leads, stay taken, so that the group can still be signalled without
  // the chance of reaching a group that took the number over. A later wait reaps it.
  uint32_t waitReadingUnreaped(uint32_t timeoutMs, const OutputReceiver& receiver);
#endif
  // The exit code of a process started here, once a wait has seen it end; -1 before that,
  // for a process only watched, or one ended by a signal.
  int exitCode() const { return exitCode_; }
  // The signal that ended a process started here, once a wait has seen it end; 0 otherwise.
  int exitSignal() const { return exitSignal_; }
#ifdef _WIN32
  // Ends every process of the job of a process from startReading; false when there is none.
  bool endTree(uint32_t exitCode);
#endif

 private:
  Process(int pid, int pidfd, bool child, std::unique_ptr<OutputPipes> pipes = nullptr);
#ifndef _WIN32
  static std::unique_ptr<Process> spawn(const std::string& program, const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& environment,
                                        std::unique_ptr<OutputPipes> pipes);
#endif
  void noteEnd();
  int pid_;
  int pidfd_;
  bool child_;  // ours to reap
  int exitCode_ = -1;
  int exitSignal_ = 0;
  std::unique_ptr<OutputPipes> pipes_;
};

}  // namespace kiv::platform
