// Runs `kiv host` as a program in the test's KIV_HOME and sends it messages with `kiv send`.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/kiv_test.h"

namespace hosttest {

inline std::string kiv() { return kivtest::binDir() + "/kiv"; }

// Runs `kiv ARGUMENTS` through the shell; its exit code, with its output in *output.
inline int runKiv(const std::string& arguments, std::string* output = nullptr) {
  std::string ignored;
  return kivtest::run(kiv() + " " + arguments + " 2>&1", output != nullptr ? output : &ignored);
}

// Sets an environment variable for the programs a test starts, and takes it away again.
class ScopedSetting {
 public:
  ScopedSetting(const char* name, const char* value) : name_(name) { setenv(name, value, 1); }
  ~ScopedSetting() { unsetenv(name_); }
  ScopedSetting(const ScopedSetting&) = delete;
  ScopedSetting& operator=(const ScopedSetting&) = delete;

 private:
  const char* name_;
};

class HostTest : public ::testing::Test {
 protected:
  std::string out() const { return kivtest::home() + "/host.out"; }
  std::string err() const { return kivtest::home() + "/host.err"; }

  // Starts `kiv host` with the extra arguments and waits until it runs. Its standard output
  // goes to out(), or to `stdoutFd` when given.
  void startHost(const std::vector<std::string>& arguments = {}, int stdoutFd = -1) {
    std::vector<std::string> argv{kiv(), "host"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    host_ = std::make_unique<kivtest::ChildProcess>(argv, out(), err(), stdoutFd);
    ASSERT_TRUE(host_->started());
    ASSERT_TRUE(kivtest::waitFor([&] { return kivtest::readFile(err()).find("running") != std::string::npos; }))
        << kivtest::readFile(err());
  }

  // Stops the host with SIGTERM; its exit code.
  int stopHost() {
    host_->signal(SIGTERM);
    return host_->exitCode();
  }

  bool printed(const std::string& line) const {
    return kivtest::readFile(out()).find(line + "\n") != std::string::npos;
  }

  std::unique_ptr<kivtest::ChildProcess> host_;
};

}  // namespace hosttest
