#include "support/kiv_test.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/test_process.h"
#include "tqUtilities.h"

namespace kivtest {
namespace {

std::string& homeStorage() {
  static std::string path;
  return path;
}

// Creates the temporary KIV_HOME before any library reads the environment, and removes it
// when the program ends (kept with KIV_TEST_KEEP_HOME=1 for a post-mortem).
class HomeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {}
  void TearDown() override {
    if (std::getenv("KIV_TEST_KEEP_HOME") == nullptr) {
      std::error_code ignored;
      std::filesystem::remove_all(homeStorage(), ignored);
    }
  }
};

}  // namespace

const std::string& home() { return homeStorage(); }
std::string libDir() { return KIV_TEST_LIB_DIR; }
std::string binDir() { return KIV_TEST_BIN_DIR; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::vector<std::string> traceLines() {
  TQUtilities_FlushTrace();
  std::vector<std::string> lines;
  std::istringstream in(readFile(home() + "/log/kiv.log"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int countTrace(const std::string& text) {
  int count = 0;
  for (const auto& line : traceLines()) count += line.find(text) != std::string::npos;
  return count;
}

bool traced(const std::string& text) { return countTrace(text) > 0; }

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (auto pause = std::chrono::milliseconds(1);; pause = std::min(pause * 2, std::chrono::milliseconds(50))) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
  }
}

}  // namespace kivtest

// ZeroMQ is not built with ThreadSanitizer, so its hand-over of message buffers between its
// I/O thread and ours (lock-free pipes) shows up as races inside it. Only those reports are
// suppressed; every other thread of the tests stays checked.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libzmq.so.5\n"
         "race:libzmq.so.5\n";
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  kivtest::prepareTestProcess();
  std::string error;
  kivtest::homeStorage() = kivtest::makeTemporaryDirectory(&error);
  if (kivtest::homeStorage().empty()) {
    std::fprintf(stderr, "cannot make the temporary KIV_HOME: %s\n", error.c_str());
    return 1;
  }
  kivtest::setEnvironment("KIV_HOME", kivtest::homeStorage().c_str(), true);
  kivtest::setEnvironment("KIV_TRACE_LEVEL", "4", false);
  ::testing::AddGlobalTestEnvironment(new kivtest::HomeEnvironment);
  return RUN_ALL_TESTS();
}
