// Runs `kiv host` as a program in the test's KIV_HOME and sends it messages with `kiv send`.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TQSMCAPI.h"
#include "support/child_process.h"
#include "support/kiv_test.h"
#include "support/run_program.h"
#include "support/test_process.h"

namespace hosttest {

inline std::string kiv() { return KIV_PROGRAM; }

// Runs `kiv ARGUMENTS`; its exit code, with its standard output and error in *output.
inline int runKiv(std::vector<std::string> arguments, std::string* output = nullptr) {
  std::string ignored;
  arguments.insert(arguments.begin(), kiv());
  return kivtest::runProgram(arguments, output != nullptr ? output : &ignored);
}

// Whether a process holds the bus endpoint `name` open.
inline bool endpointOpen(const char* name) {
  int pid = 0;
  return SmQueryEndPointOwner(name, &pid) != kSmErrNoListener;
}

// Sets an environment variable for the programs a test starts, and takes it away again.
class ScopedSetting {
 public:
  ScopedSetting(const char* name, const char* value) : name_(name) {
    kivtest::setEnvironment(name, value, true);
  }
  ~ScopedSetting() { kivtest::unsetEnvironment(name_); }
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
  // goes to out(), or into `stdoutPipe` when given.
  void startHost(const std::vector<std::string>& arguments = {},
                 kivtest::OutputPipe* stdoutPipe = nullptr) {
    std::vector<std::string> argv{kiv(), "host"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    host_ = std::make_unique<kivtest::ChildProcess>(argv, out(), err(), stdoutPipe);
    ASSERT_TRUE(host_->started());
    ASSERT_TRUE(kivtest::waitFor([&] { return kivtest::readFile(err()).find("running") != std::string::npos; }))
        << kivtest::readFile(err());
  }

  // Asks the host to stop as an operator does (SIGTERM, Ctrl+C on Windows); its exit code.
  int stopHost() {
    host_->requestStop();
    return host_->exitCode();
  }

  // What the host printed, with Windows' CRLF line ends read as plain ones.
  std::string printedText() const {
    std::string text = kivtest::readFile(out());
    for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
    return text;
  }

  bool printed(const std::string& line) const {
    return printedText().find(line + "\n") != std::string::npos;
  }

  // The plug-in's end, code 1, is the last line the host printed.
  void expectEndIsLastLine() const {
    const std::string text = printedText();
    const std::string last = "{\"code\":1,\"s1\":\"\",\"s2\":\"\",\"s3\":\"\"}\n";
    ASSERT_GE(text.size(), last.size()) << text;
    EXPECT_EQ(text.substr(text.size() - last.size()), last) << text;
  }

  std::unique_ptr<kivtest::ChildProcess> host_;
};

}  // namespace hosttest
