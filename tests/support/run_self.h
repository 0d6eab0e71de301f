// Command lines for the programs a test runs beside itself (this program again, for a case
// that needs a second process or another environment; its helpers; the kiv tool), quoted
// for the command interpreter of either system.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/kiv_test.h"
#include "support/test_process.h"

namespace kivtest {

// One argument of a command line for run(), quoted for the system's command interpreter
// (test arguments never hold a quote themselves).
inline std::string quoteArgument(const std::string& argument) {
#ifdef _WIN32
  return "\"" + argument + "\"";
#else
  return "'" + argument + "'";
#endif
}

// A command line as run() and popen hand it to the command interpreter. cmd.exe /c takes
// the outer quotes off a line that holds more than one quoted part, so on Windows the
// whole line gets a pair of its own.
inline std::string commandLine(const std::string& command) {
#ifdef _WIN32
  return "\"" + command + "\"";
#else
  return command;
#endif
}

// Runs a command line built from quoteArgument() parts; exit status, output in *output.
inline int runLine(const std::string& command, std::string* output = nullptr) {
  return run(commandLine(command), output);
}

// The command line that runs the tests `filter` names in this program, output and errors
// together.
inline std::string selfCommand(const std::string& filter) {
  return quoteArgument(ownProgramPath()) + " --gtest_filter=" + filter + " 2>&1";
}

// Another program of the build, quoted for run(): the test programs and their helpers
// share one folder.
inline std::string programBeside(const std::string& name) {
  const std::string self = ownProgramPath();
  const auto slash = self.find_last_of("/\\");
#ifdef _WIN32
  const std::string file = name + ".exe";
#else
  const std::string& file = name;
#endif
  return quoteArgument(self.substr(0, slash + 1) + file);
}

using Environment = std::vector<std::pair<std::string, std::string>>;

// Adds variables to this process's environment for a child to inherit, and takes them
// out again when it goes.
class ChildEnvironment {
 public:
  explicit ChildEnvironment(Environment variables) : variables_(std::move(variables)) {
    for (const auto& [name, value] : variables_) setEnvironment(name.c_str(), value.c_str(), true);
  }
  ~ChildEnvironment() {
    for (const auto& [name, value] : variables_) unsetEnvironment(name.c_str());
  }
  ChildEnvironment(const ChildEnvironment&) = delete;
  ChildEnvironment& operator=(const ChildEnvironment&) = delete;

 private:
  Environment variables_;
};

// Runs the tests `filter` names in a child with `variables` added to its environment;
// answers its exit status, with its output in *output.
inline int runSelf(const std::string& filter, Environment variables, std::string* output) {
  ChildEnvironment environment(std::move(variables));
  return runLine(selfCommand(filter), output);
}

}  // namespace kivtest
