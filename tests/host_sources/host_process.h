// Runs `kiv host --json` as a child process for a test and reads the events it prints.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kivtest {

class HostProcess {
 public:
  // Starts the host with extra environment assignments ("NAME=value").
  explicit HostProcess(const std::vector<std::string>& environment = {});
  ~HostProcess();

  // The JSON event lines printed so far.
  std::vector<std::string> events() const;
  bool sawEvent(const std::string& json) const;
  std::string errorOutput() const;
  // Waits until the host runs, with its event sources started; false when it did not start.
  // Its start line on standard error names the sources.
  bool waitUntilRunning() const;
  // Sends SIGTERM and returns the exit status (-1 when it did not exit normally).
  int stop();

 private:
  pid_t pid_ = -1;
  std::string stdoutPath_;
  std::string stderrPath_;
};

}  // namespace kivtest
