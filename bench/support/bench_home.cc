#include "support/bench_home.h"

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>

namespace kivbench {

TemporaryHome::TemporaryHome() {
  char pattern[] = "/tmp/kiv-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("kiv benchmark: cannot make a temporary KIV_HOME");
    return;
  }
  path_ = pattern;
  setenv("KIV_HOME", pattern, 1);
}

TemporaryHome::~TemporaryHome() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

int runBenchmarks(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace kivbench
