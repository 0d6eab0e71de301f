#include "host_sources/host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

#include "support/kiv_test.h"

namespace kivtest {

HostProcess::HostProcess(const std::vector<std::string>& environment) {
  static int serial = 0;
  const std::string base = home() + "/host" + std::to_string(++serial);
  stdoutPath_ = base + ".out";
  stderrPath_ = base + ".err";
  const std::string program = binDir() + "/kiv";
  pid_ = fork();
  if (pid_ == 0) {
    for (const auto& assignment : environment) putenv(strdup(assignment.c_str()));
    int out = open(stdoutPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(err, 2);
    execl(program.c_str(), "kiv", "host", "--json", static_cast<char*>(nullptr));
    _exit(127);
  }
}

HostProcess::~HostProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

std::vector<std::string> HostProcess::events() const {
  std::vector<std::string> lines;
  std::istringstream in(readFile(stdoutPath_));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool HostProcess::sawEvent(const std::string& json) const {
  for (const auto& line : events()) {
    if (line == json) return true;
  }
  return false;
}

std::string HostProcess::errorOutput() const { return readFile(stderrPath_); }

bool HostProcess::waitUntilRunning() const {
  return waitFor([&] { return errorOutput().find("running plug-in") != std::string::npos; });
}

int HostProcess::stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kivtest
