// A program that a test runs beside itself (the kiv tool, usually), with its standard output
// and error in files or on a pipe. A child that is still running when the test ends is
// killed and reaped, so no test leaves a process behind.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kivtest {

// A pipe that a child takes as its standard output and the test reads line by line.
class OutputPipe {
 public:
  OutputPipe();
  ~OutputPipe();
  OutputPipe(const OutputPipe&) = delete;
  OutputPipe& operator=(const OutputPipe&) = delete;

  bool isOpen() const { return readEnd_ != -1 && writeEnd_ != -1; }
  // Reads one line, its end included; false when the writers closed the pipe first.
  bool readLine(std::string* line);
  // The test's copy of the write end, once a child holds its own.
  void closeWriteEnd();
  // As a reader that goes away does: later writes into the pipe fail.
  void closeReadEnd();

 private:
  friend class ChildProcess;
  bool readByte(char* byte);

  // A descriptor on Linux, a handle on Windows; -1 for none.
  intptr_t readEnd_ = -1;
  intptr_t writeEnd_ = -1;
};

class ChildProcess {
 public:
  // Standard output goes to `stdoutPipe` when it is given, else to the file `outPath`.
  ChildProcess(const std::vector<std::string>& argv, const std::string& outPath,
               const std::string& errPath, OutputPipe* stdoutPipe = nullptr);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const;
  int pid() const;

  // Asks the child to stop the way an operator does: SIGTERM on Linux; on Windows Ctrl+C,
  // sent to the child's own process group on the console it shares with the test.
  void requestStop();

#ifndef _WIN32
  void signal(int number);
  // Stops the child (SIGSTOP) and answers once it is stopped.
  bool stop();
#endif

  // Waits for the exit; the exit code, or -1 when it did not end in time or ended by a signal.
  int exitCode(std::chrono::milliseconds timeout = std::chrono::seconds(90));

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kivtest
