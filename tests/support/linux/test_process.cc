// Test processes on Linux: temporary homes below /tmp, commands through /bin/sh.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "support/kiv_test.h"
#include "support/test_process.h"

namespace kivtest {

void prepareTestProcess() {}

std::string makeTemporaryDirectory(std::string* error) {
  char pattern[] = "/tmp/kiv-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    *error = std::strerror(errno);
    return "";
  }
  return pattern;
}

void setEnvironment(const char* name, const char* value, bool overwrite) {
  setenv(name, value, overwrite ? 1 : 0);
}

void unsetEnvironment(const char* name) { unsetenv(name); }

std::string ownProgramPath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

// Never a number below 1: kill(0) and kill(-1) would reach the suite itself or every process.
void killProcess(int pid) {
  if (pid > 0) kill(pid, SIGKILL);
}

bool underWine() { return false; }

int run(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  std::string text;
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  int status = pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kivtest
