// A benchmark program's own KIV_HOME, so that it neither reads nor writes the agent's state:
// made before anything reads the environment, removed when the program ends.
#pragma once

#include <string>

namespace kivbench {

class TemporaryHome {
 public:
  TemporaryHome();
  ~TemporaryHome();
  TemporaryHome(const TemporaryHome&) = delete;
  TemporaryHome& operator=(const TemporaryHome&) = delete;

  explicit operator bool() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Initialises Google Benchmark with the program's arguments and runs what was registered.
int runBenchmarks(int argc, char** argv);

}  // namespace kivbench
